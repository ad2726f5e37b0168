#include "qm/state/TransformManager.h"

#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/state/State.h"

namespace QM {

TransformManager::Mode TransformManager::mode() const {
    std::int32_t stored = kViewTouch;
    if (owner_ != nullptr) {
        owner_->getAttributes().get<std::int32_t>(QM_INT_MATRIX_MODE, stored);
    }
    switch (stored) {
    case kModelview: return kModelview;
    case kTouchWorkspace: return kTouchWorkspace;
    default: return kViewTouch;
    }
}

void TransformManager::setMatrixMode(QMenum mode) {
    std::int32_t value = 0;
    if (mode != nullptr && mode == QM_VIEWTOUCH) {
        value = kViewTouch;
    } else if (mode != nullptr && mode == QM_MODELVIEW) {
        value = kModelview;
    } else if (mode != nullptr && mode == QM_TOUCHWORKSPACE) {
        value = kTouchWorkspace;
    } else {
        throw QMException(QM_INVALID_ENUM);
    }
    if (owner_ != nullptr) {
        owner_->getAttributes().set<std::int32_t>(QM_INT_MATRIX_MODE, value);
    }
}

namespace {

template <std::size_t Depth>
void push(MatrixStack<Depth>& stack) {
    if (static_cast<std::size_t>(stack.top) + 1 == Depth) {
        throw QMException(QM_STACK_OVERFLOW);
    }
    ++stack.top;
    stack.current() = stack.matrices[static_cast<std::size_t>(stack.top - 1)];
}

template <std::size_t Depth>
void pop(MatrixStack<Depth>& stack) {
    if (stack.top == 0) {
        throw QMException(QM_STACK_UNDERFLOW);
    }
    --stack.top;
}

}  // namespace

void TransformManager::pushMatrix() {
    switch (mode()) {
    case kViewTouch: push(viewTouch_); break;
    case kModelview: push(modelview_); break;
    case kTouchWorkspace: push(touchWorkspace_); break;
    }
}

void TransformManager::popMatrix() {
    dirty_ = true;
    switch (mode()) {
    case kViewTouch: pop(viewTouch_); break;
    case kModelview: pop(modelview_); break;
    case kTouchWorkspace: pop(touchWorkspace_); break;
    }
}

const zvu::zvuMatrix& TransformManager::currentMatrix() const {
    switch (mode()) {
    case kModelview: return modelview_.current();
    case kTouchWorkspace: return touchWorkspace_.current();
    default: return viewTouch_.current();
    }
}

zvu::zvuMatrix& TransformManager::currentMatrixForWrite() {
    dirty_ = true;
    switch (mode()) {
    case kModelview: return modelview_.current();
    case kTouchWorkspace: return touchWorkspace_.current();
    default: return viewTouch_.current();
    }
}

int TransformManager::depthIndex() const {
    switch (mode()) {
    case kModelview: return modelview_.top;
    case kTouchWorkspace: return touchWorkspace_.top;
    default: return viewTouch_.top;
    }
}

void TransformManager::setViewTouch(const zvu::zvuMatrix& m) {
    viewTouch_.current() = m;
    dirty_ = true;
}

void TransformManager::setTouchWorkspace(const zvu::zvuMatrix& m) {
    touchWorkspace_.current() = m;
    dirty_ = true;
}

void TransformManager::setFrameModelview(const zvu::zvuMatrix& m) {
    frameModelview_ = m;
    dirty_ = true;
}

// A singular chain (a degenerate workspace or view volume, a zero scale on
// the modelview) has no inverse. The last good inverse is kept and the
// failure is remembered, so that every use reports it instead of silently
// returning workspace coordinates as if they were model coordinates.
void TransformManager::compose() {
    if (!dirty_) {
        return;
    }
    modelToWorkspace_ = touchWorkspace_.current() * viewTouch_.current() * frameModelview_;
    zvu::zvuMatrix inverse;
    inverseFailed_ = !modelToWorkspace_.inverse(inverse);
    if (!inverseFailed_) {
        workspaceToModel_ = inverse;
    }
    dirty_ = false;
}

const zvu::zvuMatrix& TransformManager::getWorkspaceToModel() {
    compose();
    if (inverseFailed_) {
        recordError(QM_INVALID_OPERATION);
    }
    return workspaceToModel_;
}

bool TransformManager::inverseFailed() {
    compose();
    return inverseFailed_;
}

const zvu::zvuMatrix& TransformManager::getModelToWorkspace() {
    compose();
    return modelToWorkspace_;
}

double TransformManager::workspaceToModelScale() {
    const zvu::zvuMatrix& w = getWorkspaceToModel();
    const zvu::zvuVector3Dd a = w.transformPoint({1.0, 1.0, 1.0});
    const zvu::zvuVector3Dd b = w.transformPoint({0.0, 0.0, 0.0});
    return (a - b).length() / std::sqrt(3.0);
}

bool TransformManager::cameraViewEnabled(const IAttributeMap& attributes) const {
    bool enabled = false;
    return attributes.get<bool>(QM_HAPTIC_CAMERA_VIEW, enabled) && enabled;
}

bool TransformManager::adaptiveViewportEnabled(const IAttributeMap& attributes) const {
    bool enabled = false;
    return attributes.get<bool>(QM_ADAPTIVE_VIEWPORT, enabled) && enabled;
}

}  // namespace QM
