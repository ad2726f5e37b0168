#include "qm/shapes/MeshShape.h"

#include <memory>

#include "qm/api/Symbols.h"
#include "qm/collision/LocalFeature.h"

namespace QM {

namespace {

// The determinant of a column-major 4x4 matrix.
double determinant4(const zvu::zvuMatrix& m) {
    const double* a = m.data();
    auto at = [a](int row, int col) { return a[col * 4 + row]; };
    double det = 0.0;
    // Laplace expansion along the first row.
    for (int c = 0; c < 4; ++c) {
        double minor[9];
        int k = 0;
        for (int r = 1; r < 4; ++r) {
            for (int cc = 0; cc < 4; ++cc) {
                if (cc != c) {
                    minor[k++] = at(r, cc);
                }
            }
        }
        const double d = minor[0] * (minor[4] * minor[8] - minor[5] * minor[7]) -
                         minor[1] * (minor[3] * minor[8] - minor[5] * minor[6]) +
                         minor[2] * (minor[3] * minor[7] - minor[4] * minor[6]);
        det += ((c % 2 == 0) ? 1.0 : -1.0) * at(0, c) * d;
    }
    return det;
}

zvu::zvuVector3Dd toDouble(const zvu::zvuVector3Df& v) { return {v.x, v.y, v.z}; }

}  // namespace

FaceMode MeshShape::faceMode(QMenum touchableFace) {
    if (touchableFace != nullptr && touchableFace == QM_FRONT) return FaceMode::Front;
    if (touchableFace != nullptr && touchableFace == QM_BACK) return FaceMode::Back;
    if (touchableFace != nullptr && touchableFace == QM_FRONT_AND_BACK) return FaceMode::FrontAndBack;
    return FaceMode::None;
}

void MeshShape::setLocalFrame(const zvu::zvuMatrix& localFromWorkspace, const zvu::zvuMatrix& workspaceFromLocal) {
    localFromWorkspace_ = localFromWorkspace;
    workspaceFromLocal_ = workspaceFromLocal;
    handedness_ = determinant4(workspaceFromLocal) < 0.0 ? -1.0 : 1.0;
}

zvu::zvuVector3Dd MeshShape::frontNormal(std::size_t index) const {
    const zvu::PrimitiveTriangle& t = geometry_.triangle(index);
    const zvu::zvuVector3Dd w0 = toWorkspace(t.v0());
    const zvu::zvuVector3Dd n = (toWorkspace(t.v1()) - w0).cross(toWorkspace(t.v2()) - w0).normalized();
    // The raw vertex order gives (v1 - v0) x (v2 - v0); the triangle's front
    // is that side when edgeOrderNormal is set, and the map may mirror it.
    return n * ((t.edgeOrderNormal != 0 ? 1.0 : -1.0) * handedness_);
}

bool MeshShape::intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                                 zvu::zvuVector3Dd& normal, QMenum& face) {
    return intersectSegmentWith(segment, faceMode(touchableFace), point, normal, face);
}

// A point or line met along the motion pushes straight back against it. A
// triangle reports its front normal when entered from the front and the
// reverse when entered from the back, so the normal always faces the side
// the motion came from, whatever the winding chosen as front.
bool MeshShape::intersectSegmentWith(const zvu::zvuLineSegmentd& segment, FaceMode faces, zvu::zvuVector3Dd& point,
                                     zvu::zvuVector3Dd& normal, QMenum& face) const {
    const zvu::zvuLineSegmentd local(localFromWorkspace_.transformPoint(segment.start()),
                                     localFromWorkspace_.transformPoint(segment.end()));
    const TouchHit hit = geometry_.intersect(local, faces, kEps, true);
    if (hit.kind == TouchHit::Kind::None) {
        return false;
    }
    point = toWorkspace(hit.point);
    const zvu::zvuVector3Dd back = -segment.unitDirection();
    if (hit.kind != TouchHit::Kind::Triangle) {
        normal = back;
        face = QM_FRONT;
        return true;
    }
    zvu::zvuVector3Dd front = frontNormal(static_cast<std::size_t>(hit.index));
    if (front.lengthSquared() == 0.0) {
        front = back;
    }
    normal = hit.code == 2 ? -front : front;
    face = hit.code == 2 ? QM_BACK : QM_FRONT;
    return true;
}

// Up to three features: the plane of the nearest triangle (facing its front),
// the nearest line and the nearest point, each compared in local space; the
// closest point is the nearest of them (a later kind wins only when strictly
// nearer).
bool MeshShape::closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                                zvu::zvuVector3Dd& closestPoint) {
    const zvu::zvuVector3Dd query = localFromWorkspace_.transformPoint(querySegment.start());
    const ClosestElements nearest = geometry_.closest(query, kEps, true);
    bool found = false;
    zvu::zvuVector3Dd best;
    double bestDistance = 0.0;
    auto consider = [&](const zvu::zvuVector3Dd& candidate, double distance) {
        if (!found || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
        found = true;
    };
    if (nearest.triangle >= 0) {
        const auto index = static_cast<std::size_t>(nearest.triangle);
        const zvu::zvuVector3Dd w0 = toWorkspace(geometry_.triangle(index).v0());
        features.insert(std::make_unique<LocalFeaturePlane>(zvu::zvuPlane<double>(frontNormal(index), w0)));
        consider(nearest.trianglePoint, nearest.triangleDistanceSquared);
    }
    if (nearest.line >= 0) {
        const TouchGeometry::Line& line = geometry_.line(static_cast<std::size_t>(nearest.line));
        features.insert(std::make_unique<LocalFeatureLine>(
            zvu::zvuLineSegmentd(toWorkspace(toDouble(line.a)), toWorkspace(toDouble(line.b)))));
        consider(nearest.linePoint, nearest.lineDistanceSquared);
    }
    if (nearest.point >= 0) {
        const zvu::zvuVector3Dd p = toDouble(geometry_.point(static_cast<std::size_t>(nearest.point)));
        features.insert(std::make_unique<LocalFeaturePoint>(toWorkspace(p)));
        consider(p, nearest.pointDistanceSquared);
    }
    if (found) {
        closestPoint = toWorkspace(best);
    }
    return found;
}

}  // namespace QM
