// Collision detection: at every collision step the scene is reduced to the
// few local features near the proxy that the servo loop will move it
// against until the next step.
//
// One detector per rendering context; it runs on the collision thread
// under the renderer lock, which its caller holds. It reads the shapes'
// geometry and writes only their touch results (QM_PROXY_IS_TOUCHING,
// QM_TOUCHED_FACE). It never changes a shape's QM_TOUCHABLE_FACE: where it
// needs another face it passes the face to the shape's query.
#pragma once

#include <vector>

#include "qm/collision/LocalFeature.h"
#include "qm/collision/Proxy.h"
#include "qm/servo/MotionTransform.h"
#include "qm/shapes/Scene.h"

namespace QM {

class LocalFeatureDetector {
public:
    // Two surfaces met one after the other whose unit normals have a signed
    // dot product above this are one surface.
    static constexpr double kSameSurface = 0.999;
    // Slides on the first plane before the sweep gives up looking for a
    // second one.
    static constexpr int kMaxSlides = 100;

    LocalFeatureDetector() = default;
    LocalFeatureDetector(const LocalFeatureDetector&) = delete;
    LocalFeatureDetector& operator=(const LocalFeatureDetector&) = delete;

    // Rebuilds the proxy's contact and constraint sets from the shapes (in
    // identifier order) and updates the proxy toward the target with the
    // contact goal as its override position:
    //  1. the proxy's sets and collisions are cleared;
    //  2. a touching shape whose reaction force exceeds ten times its
    //     touched face's pop-through value (0: never) is let go (no longer
    //     touching) and left out of this step;
    //  3. the contact sweep over the QM_CONTACT shapes builds the contact
    //     set and the goal;
    //  4. every QM_CONSTRAINT shape adds its features within its snap
    //     distance to the constraint set;
    //  5. the proxy is updated;
    //  6. features not meant for the servo loop are erased, with their
    //     collision records.
    // Every feature carries its shape's material for the face met. Returns
    // false when a shape's query threw; the proxy is then left without
    // features (at the device after the update), and nothing escapes.
    bool detect(const ShapeMap& shapes, const ITarget& target, IProxy& proxy) noexcept;

    // Hands features made elsewhere (a callback shape's, or the line of the
    // application-set proxy) to the proxy: the proxy's sets are replaced by
    // the features of `features` sorted by their QM_TOUCH_MODEL (contact
    // when unset), and the proxy is updated in place (its contact position
    // as the override). `features` is left empty. False when memory ran out
    // (the proxy is then left without features).
    bool distribute(LocalFeatureSet& features, IProxy& proxy, const ITarget& target) noexcept;

    // Moves the proxy's contact position (transform 0) to the nearest point,
    // on the way from it to the target, of a shape that is touching, or to
    // the target when no such shape is met. Returns whether one was met.
    bool placeProxyAtClosestTouchedPoint(const ShapeMap& shapes, const ITarget& target, IProxy& proxy) noexcept;

    // Follows a shape that moved between two frames: the proxy's contact
    // position P is carried along with the shape to P'. When the moved
    // shape lies on the way from P' to the device (with `checkDevice`) or
    // from P' back to P, the proxy is still on it: `temporary` is moved by
    // P' - P and true is returned.
    bool followMovingShape(IShape& newShape, const IShape& previousShape, const ITarget& device, const IProxy& proxy,
                           HapticDeviceTarget& temporary, bool checkDevice = true) noexcept;

    // Finds the contact again on a depth-buffer shape whose surface changed
    // under the proxy (it moved, or declares a dynamic surface), when the
    // way from the proxy's contact position P to the device no longer
    // crosses it. Only a shape still touching (face f = its touched face),
    // or one whose nearest surface to the proxy-device segment is met on
    // the way from P to it (f = the face met there), is searched; a shape
    // captured through the haptic camera with both faces touchable is not
    // searched unless touching. The search runs from P outwards, away from
    // the device, for 20 units, and crosses the surface from the side
    // opposite to f (the proxy having ended up behind it); when that fails,
    // from the shape's nearest surface point in the same way. Found at H:
    // `temporary` is moved by H - P, the shape is marked touching on face f
    // and true is returned.
    bool reFindContact(IShape& shape, const ITarget& device, const IProxy& proxy,
                       HapticDeviceTarget& temporary) noexcept;

    // Gives the feature a snapshot of the shape's material for `face`
    // (QM_FRONT or QM_BACK): QM_STIFFNESS, QM_DAMPING, QM_STATIC_FRICTION,
    // QM_DYNAMIC_FRICTION, QM_POPTHROUGH (floats), QM_INT_SOURCE_SHAPE_ID
    // (int), QM_INT_USE_IN_FAST_LOOP, QM_INT_REPORT_COLLISIONS (bools),
    // QM_TOUCHED_FACE and QM_TOUCH_MODEL.
    static void snapshotMaterial(ILocalFeature& feature, const IShape& shape, QMenum face);

private:
    struct Candidate {
        IShape* shape;
        QMenum face;  // the touchable face asked for
    };
    struct Hit {
        IShape* shape = nullptr;
        zvu::zvuVector3Dd point{};
        zvu::zvuVector3Dd normal{};
        QMenum face = nullptr;
    };
    // A surface found by the sweep: its shape and face, its unit normal and
    // the hit point backed off along the motion by the shape's offset.
    struct Surface {
        IShape* shape = nullptr;
        QMenum face = nullptr;
        zvu::zvuVector3Dd normal{};
        zvu::zvuVector3Dd point{};
    };

    static bool firstHit(const zvu::zvuVector3Dd& from, const zvu::zvuVector3Dd& to,
                         const std::vector<Candidate>& candidates, Hit& hit);
    static Surface accept(const Hit& hit, const zvu::zvuVector3Dd& from, const zvu::zvuVector3Dd& to, bool constraint);
    static void addPlane(LocalFeatureSet& destination, const Surface& surface, bool constraint);
    // The contact sweep from `start` toward `device`; adds its planes to
    // `destination` and returns the goal.
    static zvu::zvuVector3Dd sweep(const zvu::zvuVector3Dd& start, const zvu::zvuVector3Dd& device,
                                   const std::vector<Candidate>& candidates, LocalFeatureSet& destination,
                                   bool constraint);
    void addConstraintFeatures(IShape& shape, const zvu::zvuVector3Dd& from, const zvu::zvuVector3Dd& device,
                               LocalFeatureSet& destination);
    void detectOrThrow(const ShapeMap& shapes, const ITarget& target, IProxy& proxy);

    // Scratch lists, kept between steps to spare the allocations.
    std::vector<Candidate> contactShapes_;
    std::vector<IShape*> constraintShapes_;
    std::vector<Candidate> single_;
};

// Whether the shape lets the proxy through this step (see detect, step 2).
bool popsThrough(const IShape& shape);

}  // namespace QM
