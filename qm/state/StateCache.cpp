#include "qm/state/StateCache.h"

#include "qm/api/Symbols.h"

namespace QM {

namespace {

void declarePublishedKeys(IAttributeMap& map) {
    map.declareArray<double>(QM_PROXY_POSITION, 3);
    map.declareArray<double>(QM_PROXY_ROTATION, 4);
    map.declareArray<double>(QM_PROXY_TRANSFORM, 16);
    map.declareArray<double>(QM_DEVICE_POSITION, 3);
    map.declareArray<double>(QM_DEVICE_ROTATION, 4);
    map.declareArray<double>(QM_DEVICE_TRANSFORM, 16);
    map.declareArray<double>(QM_DEVICE_FORCE, 3);
    map.declareArray<double>(QM_DEVICE_TORQUE, 3);
    map.declare<bool>(QM_BUTTON1_STATE);
    map.declare<bool>(QM_BUTTON2_STATE);
    map.declare<bool>(QM_BUTTON3_STATE);
    map.declare<bool>(QM_SAFETY_STATE);
    map.declare<bool>(QM_INKWELL_STATE);
    map.declare<bool>(QM_PROXY_IS_TOUCHING);
    map.declareArray<double>(QM_PROXY_TOUCH_NORMAL, 3);
}

}  // namespace

const QMenum* publishedStateKeys(int& count) {
    // Filled on first use: the symbols are published when the library loads.
    static const QMenum keys[] = {
        QM_PROXY_POSITION,   QM_PROXY_ROTATION, QM_PROXY_TRANSFORM, QM_DEVICE_POSITION,   QM_DEVICE_ROTATION,
        QM_DEVICE_TRANSFORM, QM_DEVICE_FORCE,   QM_DEVICE_TORQUE,   QM_BUTTON1_STATE,     QM_BUTTON2_STATE,
        QM_BUTTON3_STATE,    QM_SAFETY_STATE,   QM_INKWELL_STATE,   QM_PROXY_IS_TOUCHING, QM_PROXY_TOUCH_NORMAL,
    };
    count = static_cast<int>(sizeof keys / sizeof keys[0]);
    return keys;
}

int copySetValues(IAttributeMap& target, const IAttributeMap& source, const QMenum* keys, int count) {
    int copied = 0;
    for (int i = 0; i < count; ++i) {
        if (source.isSet(keys[i]) && target.copyFrom(keys[i], source)) {
            ++copied;
        }
    }
    return copied;
}

StateCache::StateCache() { declarePublishedKeys(values_); }

std::unique_ptr<StateCache> StateCache::clone() const {
    auto copy = std::make_unique<StateCache>();
    copy->copyFrom(*this);
    return copy;
}

void StateCache::copyFrom(const IStateCache& source) {
    int count = 0;
    const QMenum* keys = publishedStateKeys(count);
    copySetValues(values_, source.getValues(), keys, count);
    workspaceToModel_ = source.getWorkspaceToModel();
    modelToWorkspace_ = source.getModelToWorkspace();
}

}  // namespace QM
