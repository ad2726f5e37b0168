// Exported functions: matrix stacks, qmOrtho and the workspace box.
#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"

namespace QM {
namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;

ITransformManager& transforms(Context& context) { return context.state->getTransforms(); }

// M = A then M: A applies to a point first.
void apply(Context& context, const zvu::zvuMatrix& a) {
    zvu::zvuMatrix& m = transforms(context).currentMatrixForWrite();
    m = m * a;
}

void multiply(const zvu::zvuMatrix& a) {
    callInContext([&](Context& context) { apply(context, a); });
}

void load(const zvu::zvuMatrix& a) {
    callInContext([&](Context& context) { transforms(context).currentMatrixForWrite() = a; });
}

// The transform that fits the view volume into the workspace box W: the
// volume's centre B goes to the box's centre C and each axis is stretched by
// the ratio of the extents S. Built as translation by D = C - B (each
// component rounded to single precision), then by -C, then the scaling by S,
// then translation by C, so that p maps to (p + D - C) S + C.
zvu::zvuMatrix fitting(const double w[6], double left, double right, double bottom, double top, double zNear,
                       double zFar) {
    const double c[3] = {(w[0] + w[3]) / 2.0, (w[1] + w[4]) / 2.0, (w[2] + w[5]) / 2.0};
    const double b[3] = {(left + right) / 2.0, (bottom + top) / 2.0, (zNear + zFar) * -0.5};
    const double s[3] = {(w[3] - w[0]) / (right - left), (w[4] - w[1]) / (top - bottom),
                         (w[5] - w[2]) / (zFar - zNear)};
    double d[3];
    for (int i = 0; i < 3; ++i) {
        d[i] = static_cast<double>(static_cast<float>(c[i] - b[i]));
    }
    return zvu::zvuMatrix::translation(c[0], c[1], c[2]) * zvu::zvuMatrix::scale(s[0], s[1], s[2]) *
           zvu::zvuMatrix::translation(-c[0], -c[1], -c[2]) * zvu::zvuMatrix::translation(d[0], d[1], d[2]);
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmMatrixMode(QMenum mode) {
    callInContext([&](Context& context) { transforms(context).setMatrixMode(mode); });
}

QM_API void qmPushMatrix(void) {
    callInContext([&](Context& context) { transforms(context).pushMatrix(); });
}

QM_API void qmPopMatrix(void) {
    callInContext([&](Context& context) { transforms(context).popMatrix(); });
}

QM_API void qmLoadIdentity(void) { load(zvu::zvuMatrix::identity()); }

QM_API void qmLoadMatrixd(const QMdouble* m) {
    callInContext([&](Context& context) {
        require(m != nullptr, QM_INVALID_VALUE);
        transforms(context).currentMatrixForWrite() = zvu::zvuMatrix(m);
    });
}

QM_API void qmLoadMatrixf(const QMfloat* m) {
    callInContext([&](Context& context) {
        require(m != nullptr, QM_INVALID_VALUE);
        transforms(context).currentMatrixForWrite() = zvu::zvuMatrix(m);
    });
}

QM_API void qmMultMatrixd(const QMdouble* m) {
    callInContext([&](Context& context) {
        require(m != nullptr, QM_INVALID_VALUE);
        apply(context, zvu::zvuMatrix(m));
    });
}

QM_API void qmMultMatrixf(const QMfloat* m) {
    callInContext([&](Context& context) {
        require(m != nullptr, QM_INVALID_VALUE);
        apply(context, zvu::zvuMatrix(m));
    });
}

QM_API void qmTranslated(QMdouble x, QMdouble y, QMdouble z) { multiply(zvu::zvuMatrix::translation(x, y, z)); }

QM_API void qmTranslatef(QMfloat x, QMfloat y, QMfloat z) { qmTranslated(x, y, z); }

QM_API void qmRotated(QMdouble angle, QMdouble x, QMdouble y, QMdouble z) {
    multiply(zvu::zvuMatrix::rotation({x, y, z}, angle * kDegreesToRadians));
}

QM_API void qmRotatef(QMfloat angle, QMfloat x, QMfloat y, QMfloat z) { qmRotated(angle, x, y, z); }

QM_API void qmScaled(QMdouble x, QMdouble y, QMdouble z) { multiply(zvu::zvuMatrix::scale(x, y, z)); }

QM_API void qmScalef(QMfloat x, QMfloat y, QMfloat z) { qmScaled(x, y, z); }

QM_API void qmOrtho(QMdouble left, QMdouble right, QMdouble bottom, QMdouble top, QMdouble zNear, QMdouble zFar) {
    callInContext([&](Context& context) {
        double workspace[6];
        require(context.state->getAttributes().getArray<double>(QM_WORKSPACE, workspace), QM_INVALID_OPERATION);
        apply(context, fitting(workspace, left, right, bottom, top, zNear, zFar));
    });
}

// The box is clamped into the device's box. A box that, once clamped, would
// be empty on some axis (it lay wholly outside the device's box there) is
// refused rather than stored inverted.
QM_API void qmWorkspace(QMdouble minX, QMdouble minY, QMdouble minZ, QMdouble maxX, QMdouble maxY, QMdouble maxZ) {
    callInContext([&](Context& context) {
        const double requested[6] = {minX, minY, minZ, maxX, maxY, maxZ};
        for (int i = 0; i < 3; ++i) {
            require(!std::isnan(requested[i]) && !std::isnan(requested[i + 3]), QM_INVALID_VALUE);
            require(requested[i] <= requested[i + 3], QM_INVALID_VALUE);
        }
        IStackedAttributeMap& attributes = context.state->getAttributes();
        double maximum[6];
        require(attributes.getArray<double>(QM_MAX_WORKSPACE_DIMS, maximum), QM_INVALID_OPERATION);
        double box[6];
        for (int i = 0; i < 3; ++i) {
            box[i] = std::fmax(requested[i], maximum[i]);
            box[i + 3] = std::fmin(requested[i + 3], maximum[i + 3]);
            require(box[i] <= box[i + 3], QM_INVALID_VALUE);
        }
        attributes.setArray<double>(QM_WORKSPACE, box);
    });
}

}  // extern "C"
