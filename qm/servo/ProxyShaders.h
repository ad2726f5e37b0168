// The proxy shaders: friction, stiffness and damping move the rendered
// point (the proxy's fourth motion transform, which the device is pulled
// toward) away from the constrained proxy point. Stateless; their per-proxy
// values live in the proxy's control parameters.
#pragma once

#include "qm/collision/Proxy.h"
#include "qm/qm.h"

namespace QM {

class IProxyShader {
public:
    virtual ~IProxyShader() = default;
    // 0 for the friction shader, 1 for the others.
    virtual int kind() const noexcept = 0;
    // Declares the shader's values in a proxy's control parameters, so that
    // shading never allocates (client or collision thread, before the proxy
    // reaches the servo side).
    virtual void prepare(IProxy& proxy) const = 0;
    virtual void shade(const ITarget& device, IProxy& proxy) const noexcept = 0;
    virtual void proxyMoved(IProxy& proxy, const zvu::zvuVector3Dd& displacement) const noexcept = 0;
};

// The material value of a property at the device position, over the
// features of the proxy's collisions: each feature's value weighted by its
// distance d from the device, sum(v d) / sum(d). When the device lies on
// every feature (all d are 0) that is 0/0: the plain mean of the values is
// used instead. Features without the property are left out; 0 when none has
// it.
double materialValue(const IProxy& proxy, QMenum property, const zvu::zvuVector3Dd& device) noexcept;

class FrictionShader final : public IProxyShader {
public:
    int kind() const noexcept override { return 0; }
    void prepare(IProxy& proxy) const override;
    void shade(const ITarget& device, IProxy& proxy) const noexcept override;
    void proxyMoved(IProxy& proxy, const zvu::zvuVector3Dd& displacement) const noexcept override;
};

class StiffnessShader final : public IProxyShader {
public:
    int kind() const noexcept override { return 1; }
    void prepare(IProxy&) const override {}
    void shade(const ITarget& device, IProxy& proxy) const noexcept override;
    void proxyMoved(IProxy&, const zvu::zvuVector3Dd&) const noexcept override {}
};

class DampingShader final : public IProxyShader {
public:
    int kind() const noexcept override { return 1; }
    void prepare(IProxy& proxy) const override;
    void shade(const ITarget& device, IProxy& proxy) const noexcept override;
    void proxyMoved(IProxy&, const zvu::zvuVector3Dd&) const noexcept override {}
};

}  // namespace QM
