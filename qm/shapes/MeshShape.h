// The common part of the shapes whose geometry is a set of points, lines
// and triangles held in a local space of their own: image space for shapes
// captured through the feedback buffer, shape space for primitive shapes.
#pragma once

#include "qm/shapes/BaseShape.h"
#include "qm/shapes/TouchGeometry.h"

namespace QM {

class MeshShape : public BaseShape {
public:
    // Tolerance of the element tests, in local units.
    static constexpr double kEps = 1.1920928955078125e-6;

    using BaseShape::intersectSegment;
    // Intersects with the given touchable face.
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                          zvu::zvuVector3Dd& normal, QMenum& face) override;
    // The same with the touchable face given, so that collision detection can
    // ask for another face without touching the shape's attributes (they are
    // shared with other threads' readers).
    bool intersectSegmentWith(const zvu::zvuLineSegmentd& segment, FaceMode faces, zvu::zvuVector3Dd& point,
                              zvu::zvuVector3Dd& normal, QMenum& face) const;
    bool closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                         zvu::zvuVector3Dd& closestPoint) override;
    double getProxyOffset() const override { return 0.01; }

    const TouchGeometry& geometry() const { return geometry_; }
    // The outward normal of a triangle's front face in workspace coordinates
    // (unit; zero for a triangle that degenerates in the workspace).
    zvu::zvuVector3Dd frontNormal(std::size_t triangle) const;

    // QM_FRONT, QM_BACK and QM_FRONT_AND_BACK as face modes; anything else
    // touches nothing.
    static FaceMode faceMode(QMenum touchableFace);

protected:
    explicit MeshShape(unsigned id) : BaseShape(id) {}
    ~MeshShape() override = default;

    TouchGeometry& mutableGeometry() { return geometry_; }
    // The maps between the workspace and the local space.
    void setLocalFrame(const zvu::zvuMatrix& localFromWorkspace, const zvu::zvuMatrix& workspaceFromLocal);
    zvu::zvuVector3Dd toWorkspace(const zvu::zvuVector3Dd& local) const {
        return workspaceFromLocal_.transformPoint(local);
    }

private:
    TouchGeometry geometry_;
    zvu::zvuMatrix localFromWorkspace_;
    zvu::zvuMatrix workspaceFromLocal_;
    // +1 when the map from local space to the workspace keeps handedness,
    // -1 when it mirrors (as image space does: depth grows away from the
    // viewer). A projective map's Jacobian has the sign of its determinant
    // wherever w > 0, so one sign serves the whole shape.
    double handedness_ = 1.0;
};

}  // namespace QM
