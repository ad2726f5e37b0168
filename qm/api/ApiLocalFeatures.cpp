// Exported functions: the local features a callback shape's closest-features
// function adds through its geometry handle.
#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/CallbackShape.h"

namespace QM {
namespace {

// The handle must be the one handed to the closest-features function now
// running on this thread. It is only compared with that one: a handle kept
// from an earlier call, or made up, is refused without being dereferenced.
ShapeFeatureSet& geometryFrom(QMgeometry handle) {
    ShapeFeatureSet* active = activeGeometry();
    require(handle != nullptr && active != nullptr && reinterpret_cast<QMgeometry>(active) == handle, QM_INVALID_VALUE);
    return *active;
}

template <typename T>
zvu::zvuVector3Dd vectorFrom(const T* v) {
    require(v != nullptr, QM_INVALID_VALUE);
    const zvu::zvuVector3Dd result{static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])};
    require(std::isfinite(result.x) && std::isfinite(result.y) && std::isfinite(result.z), QM_INVALID_VALUE);
    return result;
}

template <typename T>
void addFeature1(QMgeometry geometry, QMenum type, const T* v) {
    callWithoutContext(0, [&] {
        require(isSymbol(type, QM_LOCAL_FEATURE_POINT), QM_INVALID_ENUM);
        ShapeFeatureSet& set = geometryFrom(geometry);
        set.addPoint(vectorFrom(v));
        return 0;
    });
}

template <typename T>
void addFeature2(QMgeometry geometry, QMenum type, const T* v1, const T* v2) {
    callWithoutContext(0, [&] {
        const bool line = isSymbol(type, QM_LOCAL_FEATURE_LINE);
        require(line || isSymbol(type, QM_LOCAL_FEATURE_PLANE), QM_INVALID_ENUM);
        ShapeFeatureSet& set = geometryFrom(geometry);
        const zvu::zvuVector3Dd first = vectorFrom(v1);
        const zvu::zvuVector3Dd second = vectorFrom(v2);
        if (line) {
            set.addLine(first, second);
        } else {
            // A normal that is zero, or that the shape's transform maps to
            // zero, describes no plane.
            require(set.addPlane(first, second) != nullptr, QM_INVALID_VALUE);
        }
        return 0;
    });
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmLocalFeature1fv(QMgeometry geometry, QMenum type, const QMfloat* v) { addFeature1(geometry, type, v); }

QM_API void qmLocalFeature1dv(QMgeometry geometry, QMenum type, const QMdouble* v) { addFeature1(geometry, type, v); }

QM_API void qmLocalFeature2fv(QMgeometry geometry, QMenum type, const QMfloat* v1, const QMfloat* v2) {
    addFeature2(geometry, type, v1, v2);
}

QM_API void qmLocalFeature2dv(QMgeometry geometry, QMenum type, const QMdouble* v1, const QMdouble* v2) {
    addFeature2(geometry, type, v1, v2);
}

}  // extern "C"
