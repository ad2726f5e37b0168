#include "qm/collision/SceneRenderer.h"

#include "qm/api/ErrorManager.h"
#include "qm/api/Symbols.h"

namespace QM {

SceneRenderer::SceneRenderer(IErrorManager& errors, unsigned reservedShapeId)
    : errors_(errors), reservedShapeId_(reservedShapeId)
{
    parameters_.declare<bool>(QM_PROXY_RESOLUTION);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, true);
}

SceneRenderer::~SceneRenderer() { stop(); }

bool SceneRenderer::start()
{
    sched::LockGuard guard(rendererLock_);
    if (!isRunning()) {
        running_.store(true, std::memory_order_release);
    }
    return true;
}

void SceneRenderer::stop()
{
    sched::LockGuard guard(rendererLock_);
    if (isRunning()) {
        running_.store(false, std::memory_order_release);
    }
}

void SceneRenderer::setDevice(HZV device)
{
    sched::LockGuard guard(rendererLock_);
    device_.store(device, std::memory_order_release);
}

void SceneRenderer::setProxyResolution(bool enabled)
{
    sched::LockGuard guard(rendererLock_);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, enabled);
}

}  // namespace QM
