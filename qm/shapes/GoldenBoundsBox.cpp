#include "qm/shapes/GoldenBoundsBox.h"

#include "qm/api/Symbols.h"
#include "zvu/Matrix.h"

namespace QM {

namespace {

zvu::BoundBox3 cube(const zvu::zvuVector3Dd& centre, double half) {
    const zvu::zvuVector3Dd extent{half, half, half};
    return zvu::BoundBox3(centre - extent, centre + extent, true);
}

bool flag(const IShape& shape, QMenum key) {
    bool value = false;
    return shape.getAttributes().get<bool>(key, value) && value;
}

}  // namespace

bool GoldenBoundsBox::needed(const ShapeMap& shapes) {
    for (auto it = shapes.iterator(); !it->atEnd(); it->advance()) {
        const IShape* shape = shapes.find(it->current());
        if (shape != nullptr && !isGoldenBox(*shape) &&
            (flag(*shape, QM_HAPTIC_CAMERA_VIEW) || flag(*shape, QM_ADAPTIVE_VIEWPORT))) {
            return true;
        }
    }
    return false;
}

bool GoldenBoundsBox::isGoldenBox(const IShape& shape) { return flag(shape, QM_INT_GOLDEN_BOUNDS_CHECKER); }

zvu::BoundBox3 GoldenBoundsBox::region(const zvu::zvuVector3Dd& previous, const zvu::zvuVector3Dd& current, double half,
                                       bool intersect) noexcept {
    const zvu::BoundBox3 single = cube(current, half);
    if (!intersect) {
        return single;
    }
    zvu::BoundBox3 both = cube(previous, half);
    both.intersect(single);
    return both.empty() ? single : both;
}

BoxShape* GoldenBoundsBox::build(unsigned id, const zvu::zvuVector3Dd& golden, double radius) {
    const double half = halfSize(radius);
    const zvu::BoundBox3 box = region(last_, golden, half, hasLast_ && ready());
    last_ = golden;
    hasLast_ = true;
    // region() never returns an empty box, so its centre and range exist;
    // a radius that is not finite or too small for the margin gives an empty
    // cube, which gets no box at all.
    if (box.empty()) {
        forget();
        return nullptr;
    }
    const zvu::zvuVector3Dd centre = box.center();
    const zvu::zvuVector3Dd extent = box.range() * 0.5;
    return finishOrDestroy(new BoxShape(id), [&](BoxShape& shape) {
        shape.setBounds(-extent, extent);
        AttributeMap& attributes = shape.getAttributes();
        attributes.set<QMenum>(QM_TOUCHABLE_FACE, QM_BACK);
        attributes.set<bool>(QM_INT_USE_IN_FAST_LOOP, false);
        attributes.set<bool>(QM_INT_REPORT_COLLISIONS, false);
        attributes.declare<bool>(QM_INT_GOLDEN_BOUNDS_CHECKER);
        attributes.set<bool>(QM_INT_GOLDEN_BOUNDS_CHECKER, true);
        shape.setTransforms(zvu::zvuMatrix::translation(centre.x, centre.y, centre.z),
                            zvu::zvuMatrix::translation(-centre.x, -centre.y, -centre.z));
        inScene_.store(true, std::memory_order_release);
    });
}

void GoldenBoundsBox::forget() noexcept {
    hasLast_ = false;
    inScene_.store(false, std::memory_order_release);
    ready_.store(false, std::memory_order_release);
}

void GoldenBoundsBox::exchanged() noexcept {
    if (inScene_.load(std::memory_order_acquire)) {
        ready_.store(true, std::memory_order_release);
    }
}

}  // namespace QM
