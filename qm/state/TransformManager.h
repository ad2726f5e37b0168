// Matrix stacks and the composed model-to-workspace transform.
#pragma once

#include <array>
#include <cstddef>

#include "qm/qm.h"
#include "zvu/Matrix.h"

namespace QM {

class IAttributeMap;
class IState;

// "A then B" below means a point is transformed by A first and then by B
// (the product B * A).
class ITransformManager {
public:
    virtual ~ITransformManager() = default;
    virtual void setOwner(IState* owner) = 0;
    // Stores the mode in the owner's QM_INT_MATRIX_MODE attribute (so that
    // qmPushAttrib(QM_TRANSFORM_BIT) saves it); QMException(QM_INVALID_ENUM)
    // for a symbol that is not a matrix mode.
    virtual void setMatrixMode(QMenum mode) = 0;
    // QMException(QM_STACK_OVERFLOW) when the current stack is full.
    virtual void pushMatrix() = 0;
    // QMException(QM_STACK_UNDERFLOW) when the current stack holds one matrix.
    virtual void popMatrix() = 0;
    virtual const zvu::zvuMatrix& currentMatrix() const = 0;
    // The current matrix for writing; the composition is recomputed at its
    // next use.
    virtual zvu::zvuMatrix& currentMatrixForWrite() = 0;
    virtual void setModelview(const zvu::zvuMatrix& m) = 0;
    virtual const zvu::zvuMatrix& getModelview() const = 0;
    virtual void setViewTouch(const zvu::zvuMatrix& m) = 0;
    virtual const zvu::zvuMatrix& getViewTouch() const = 0;
    virtual void setTouchWorkspace(const zvu::zvuMatrix& m) = 0;
    virtual const zvu::zvuMatrix& getTouchWorkspace() const = 0;
    // The inverse of the composition. When the composition is singular, the
    // last good inverse (the identity before any) is returned and
    // QM_INVALID_OPERATION is recorded in the current context at every use.
    virtual const zvu::zvuMatrix& getWorkspaceToModel() = 0;
    virtual const zvu::zvuMatrix& getModelToWorkspace() = 0;
    // Whether the current composition has no inverse; records nothing.
    virtual bool inverseFailed() = 0;
    // The mean scale factor of workspace-to-model: |W(1,1,1) - W(0,0,0)| / sqrt(3).
    virtual double workspaceToModelScale() = 0;
    virtual bool cameraViewEnabled(const IAttributeMap& attributes) const = 0;
    virtual bool adaptiveViewportEnabled(const IAttributeMap& attributes) const = 0;
    // The modelview in force for the current frame (captured at the start of
    // each frame); part of the composition.
    virtual void setFrameModelview(const zvu::zvuMatrix& m) = 0;
    virtual const zvu::zvuMatrix& getFrameModelview() const = 0;
    // The modelview of shapes rendered through the haptic camera view.
    virtual void setCameraModelview(const zvu::zvuMatrix& m) = 0;
    virtual const zvu::zvuMatrix& getCameraModelview() const = 0;
};

// A fixed-depth stack of matrices, identity-initialised, whose top is the
// current matrix of its mode.
template <std::size_t Depth>
struct MatrixStack {
    std::array<zvu::zvuMatrix, Depth> matrices{};
    int top = 0;

    zvu::zvuMatrix& current() { return matrices[static_cast<std::size_t>(top)]; }
    const zvu::zvuMatrix& current() const { return matrices[static_cast<std::size_t>(top)]; }
};

// The composition modelToWorkspace = frame modelview then view-touch then
// touch-workspace, and its inverse, are cached and recomputed only when a
// change has marked them dirty, because state queries and every shape built
// in a frame read them. The modelview stack reaches the composition only
// through the frame modelview, which the start of each frame captures.
class TransformManager final : public ITransformManager {
public:
    // Stored in QM_INT_MATRIX_MODE.
    enum Mode : int { kViewTouch = 0, kModelview = 1, kTouchWorkspace = 2 };
    static constexpr std::size_t kViewTouchDepth = 32;
    static constexpr std::size_t kModelviewDepth = 32;
    static constexpr std::size_t kTouchWorkspaceDepth = 2;

    TransformManager() = default;

    void setOwner(IState* owner) override { owner_ = owner; }
    void setMatrixMode(QMenum mode) override;
    void pushMatrix() override;
    void popMatrix() override;
    const zvu::zvuMatrix& currentMatrix() const override;
    zvu::zvuMatrix& currentMatrixForWrite() override;
    void setModelview(const zvu::zvuMatrix& m) override { modelview_.current() = m; }
    const zvu::zvuMatrix& getModelview() const override { return modelview_.current(); }
    void setViewTouch(const zvu::zvuMatrix& m) override;
    const zvu::zvuMatrix& getViewTouch() const override { return viewTouch_.current(); }
    void setTouchWorkspace(const zvu::zvuMatrix& m) override;
    const zvu::zvuMatrix& getTouchWorkspace() const override { return touchWorkspace_.current(); }
    const zvu::zvuMatrix& getWorkspaceToModel() override;
    const zvu::zvuMatrix& getModelToWorkspace() override;
    bool inverseFailed() override;
    double workspaceToModelScale() override;
    bool cameraViewEnabled(const IAttributeMap& attributes) const override;
    bool adaptiveViewportEnabled(const IAttributeMap& attributes) const override;
    void setFrameModelview(const zvu::zvuMatrix& m) override;
    const zvu::zvuMatrix& getFrameModelview() const override { return frameModelview_; }
    void setCameraModelview(const zvu::zvuMatrix& m) override { cameraModelview_ = m; }
    const zvu::zvuMatrix& getCameraModelview() const override { return cameraModelview_; }

    // The current mode as stored (the view-touch mode when unreadable).
    Mode mode() const;
    // The index of the top of the current stack.
    int depthIndex() const;
    bool dirty() const { return dirty_; }

private:
    void compose();

    MatrixStack<kViewTouchDepth> viewTouch_;
    MatrixStack<kModelviewDepth> modelview_;
    MatrixStack<kTouchWorkspaceDepth> touchWorkspace_;
    IState* owner_ = nullptr;
    zvu::zvuMatrix frameModelview_;
    zvu::zvuMatrix cameraModelview_;
    bool dirty_ = true;
    bool inverseFailed_ = false;
    zvu::zvuMatrix workspaceToModel_;
    zvu::zvuMatrix modelToWorkspace_;
};

}  // namespace QM
