// Box shapes and the golden bounds box that keeps the proxy inside the
// region where geometry was captured around it.
#include <cmath>
#include <vector>

#include "korvo/korvo_sim.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/BoxShape.h"
#include "qm/shapes/GoldenBoundsBox.h"
#include "shape_test_support.h"

namespace {

using QM::BoxShape;
using QM::GoldenBoundsBox;
using qmtest::ShapeTest;
using zvu::zvuLineSegmentd;
using zvu::zvuMatrix;
using zvu::zvuVector3Dd;

// A box shape held by the test, with the default bounds (+-0.5) moved by
// `offset` into the workspace.
class Box {
public:
    explicit Box(QMenum touchable, zvuVector3Dd offset = {}) : shape_(new BoxShape(7)) {
        shape_->addReference();
        shape_->getAttributes().set<QMenum>(QM_TOUCHABLE_FACE, touchable);
        shape_->setTransforms(zvuMatrix::translation(offset.x, offset.y, offset.z),
                              zvuMatrix::translation(-offset.x, -offset.y, -offset.z));
    }
    ~Box() { shape_->releaseReference(); }
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;
    BoxShape* operator->() { return shape_; }

private:
    BoxShape* shape_;
};

// The symbols are filled when the library loads, so the tests run with the
// library's context fixture.
class BoxShapes : public ShapeTest {};

TEST_F(BoxShapes, ASegmentHitsOnlyWhenExactlyOneEndIsInside) {
    struct Case {
        const char* what;
        QMenum touchable;
        zvuVector3Dd start;
        zvuVector3Dd end;
        bool hit;
        QMenum face;
        zvuVector3Dd point;
        zvuVector3Dd normal;
    };
    const Case cases[] = {
        {"entering through +z", QM_FRONT, {0.1, 0.2, 2}, {0.1, 0.2, 0}, true, QM_FRONT, {0.1, 0.2, 0.5}, {0, 0, 1}},
        {"entering through -x", QM_FRONT_AND_BACK, {-3, 0, 0}, {0, 0, 0}, true, QM_FRONT, {-0.5, 0, 0}, {-1, 0, 0}},
        {"leaving through +y", QM_BACK, {0, 0, 0}, {0, 3, 0.1}, true, QM_BACK, {0, 0.5, 0.5 / 30}, {0, -1, 0}},
        {"entering a back-face box", QM_BACK, {0, 0, 2}, {0, 0, 0}, false, nullptr, {}, {}},
        {"leaving a front-face box", QM_FRONT, {0, 0, 0}, {0, 0, 2}, false, nullptr, {}, {}},
        {"wholly inside", QM_FRONT_AND_BACK, {-0.4, 0, 0}, {0.4, 0, 0}, false, nullptr, {}, {}},
        {"through it, both ends outside", QM_FRONT_AND_BACK, {-2, 0, 0}, {2, 0, 0}, false, nullptr, {}, {}},
        {"no touchable face", nullptr, {0, 0, 2}, {0, 0, 0}, false, nullptr, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Box box(c.touchable, {10, 20, 30});
        const zvuVector3Dd offset{10, 20, 30};
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = nullptr;
        ASSERT_EQ(box->intersectSegment(zvuLineSegmentd(c.start + offset, c.end + offset), point, normal, face), c.hit);
        if (c.hit) {
            EXPECT_EQ(face, c.face);
            EXPECT_NEAR((point - (c.point + offset)).length(), 0.0, 1e-12);
            EXPECT_NEAR((normal - c.normal).length(), 0.0, 1e-12);
        }
    }
}

// Leaving near a corner, the segment crosses the planes of three faces; only
// the first crossing along it is on the box. Reported from inside: face
// QM_BACK, normal into the box.
TEST_F(BoxShapes, AtACornerExitTheSmallestParameterWins) {
    Box box(QM_BACK);
    struct Case {
        zvuVector3Dd end;
        zvuVector3Dd point;
        zvuVector3Dd normal;
    };
    const Case cases[] = {
        // x = 0.5 at t = 0.25, y = 0.5 at t = 0.2632, z = 0.5 at t = 0.2778.
        {{2.0, 1.9, 1.8}, {0.5, 0.475, 0.45}, {-1, 0, 0}},
        {{1.8, 2.0, 1.9}, {0.45, 0.5, 0.475}, {0, -1, 0}},
        {{-1.9, -1.8, -2.0}, {-0.475, -0.45, -0.5}, {0, 0, 1}},
        // Exactly through the corner: all three at once; the first face
        // in the order +x, -x, +y, ... is kept.
        {{2.0, 2.0, 2.0}, {0.5, 0.5, 0.5}, {-1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "to (" << c.end.x << ", " << c.end.y << ", " << c.end.z << ")");
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = nullptr;
        ASSERT_TRUE(box->intersectSegment(zvuLineSegmentd({0, 0, 0}, c.end), point, normal, face));
        EXPECT_EQ(face, QM_BACK);
        EXPECT_NEAR((point - c.point).length(), 0.0, 1e-12);
        EXPECT_NEAR((normal - c.normal).length(), 0.0, 1e-12);
    }
    zvu::zvuVector3Dd closest;
    QM::LocalFeatureSet features;
    EXPECT_FALSE(box->closestFeatures(zvuLineSegmentd({0, 0, 0}, {2, 2, 2}), features, closest));
    EXPECT_EQ(box->getType(), QM::QM_INT_SHAPE_BOX);
    EXPECT_DOUBLE_EQ(box->getProxyOffset(), 0.001);
}

// ---------------------------------------------------------------- golden box

TEST(GoldenRegion, TheCubesIntersectionFallsBackToTheSingleCubeWhenEmpty) {
    const double c = GoldenBoundsBox::halfSize(30.0);
    EXPECT_NEAR(c, 17.319508, 1e-6);
    const zvuVector3Dd a{0, 0, 0};
    struct Case {
        const char* what;
        zvuVector3Dd current;
        bool intersect;
        zvuVector3Dd min;
        zvuVector3Dd max;
    };
    const Case cases[] = {
        {"single cube", {10, 0, 0}, false, {10 - c, -c, -c}, {10 + c, c, c}},
        {"the cubes overlap", {10, 0, -5}, true, {10 - c, -c, -c}, {c, c, c - 5}},
        // The proxy moved more than twice the half-size on x: the cubes do
        // not meet, and the centre and range of their empty intersection
        // have no meaning.
        {"a 40-unit jump", {40, 0, 0}, true, {40 - c, -c, -c}, {40 + c, c, c}},
        {"a jump along one axis only", {-5, 36, 2}, true, {-5 - c, 36 - c, 2 - c}, {-5 + c, 36 + c, 2 + c}},
        // 30 units on every axis: the cubes still meet in a small one.
        {"a diagonal move", {-30, 30, 30}, true, {-c, 30 - c, 30 - c}, {-30 + c, c, c}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const zvu::BoundBox3 box = GoldenBoundsBox::region(a, k.current, c, k.intersect);
        ASSERT_FALSE(box.empty());
        EXPECT_NEAR((box.min() - k.min).length(), 0.0, 1e-12);
        EXPECT_NEAR((box.max() - k.max).length(), 0.0, 1e-12);
    }
}

// End to end through the frames. A shape captured in the adaptive viewport
// makes the scene need the box; a callback shape serves here, since only
// its flag matters.
class GoldenBox : public ShapeTest {
protected:
    unsigned id = 0;
    void SetUp() override {
        ShapeTest::SetUp();
        id = qmGenShapes(1);
    }
    // One frame, with the golden position forced to `golden` (as if the
    // proxy had moved there) unless null.
    void frame(bool adaptive, const double* golden = nullptr) {
        qmBeginFrame();
        if (golden != nullptr) {
            context().state->getAttributes().setArray<double>(QM_GOLDEN_POSITION, golden);
        }
        if (adaptive) {
            qmEnable(QM_ADAPTIVE_VIEWPORT);
        } else {
            qmDisable(QM_ADAPTIVE_VIEWPORT);
        }
        qmBeginShape(QM_SHAPE_CALLBACK, id);
        qmEndShape();
        qmEndFrame();
    }
    BoxShape* box() { return dynamic_cast<BoxShape*>(submittedShape(context().sceneRenderer->getReservedShapeId())); }
    static zvuVector3Dd centre(BoxShape& b) { return b.shapeToWorkspace().transformPoint({0, 0, 0}); }
};

TEST_F(GoldenBox, AppearsOnlyForScenesCapturedAroundTheProxy) {
    frame(false);
    EXPECT_EQ(box(), nullptr);
    const double golden[3] = {5, 6, 7};
    frame(true, golden);
    BoxShape* b = box();
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(GoldenBoundsBox::isGoldenBox(*b));
    const double c = GoldenBoundsBox::halfSize(30.0);
    EXPECT_NEAR((b->max() - zvuVector3Dd{c, c, c}).length(), 0.0, 1e-12);
    EXPECT_NEAR((b->min() + zvuVector3Dd{c, c, c}).length(), 0.0, 1e-12);
    EXPECT_NEAR((centre(*b) - zvuVector3Dd{5, 6, 7}).length(), 0.0, 1e-12);
    QMenum touchable = nullptr;
    bool fast = true;
    bool report = true;
    b->getAttributes().get<QMenum>(QM_TOUCHABLE_FACE, touchable);
    b->getAttributes().get<bool>(QM::QM_INT_USE_IN_FAST_LOOP, fast);
    b->getAttributes().get<bool>(QM::QM_INT_REPORT_COLLISIONS, report);
    EXPECT_EQ(touchable, QM_BACK);
    EXPECT_FALSE(fast);
    EXPECT_FALSE(report);
    frame(false);
    EXPECT_EQ(box(), nullptr);
    EXPECT_TRUE(errors().empty());
}

// The box is a single cube until the servo side has run a proxy exchange
// with one; then it is the intersection of the cubes around the last and
// the new golden position, unless the proxy jumped so far that they do not
// meet: then it is the single cube again, and the frame ends normally.
TEST_F(GoldenBox, BecomesTheCubesIntersectionAfterAnExchangeAndSurvivesAJump) {
    const double c = GoldenBoundsBox::halfSize(30.0);
    const double a[3] = {0, 0, 0};
    const double near[3] = {10, 0, 0};
    const double far[3] = {60, 0, 0};
    frame(true, a);
    frame(true, near);
    ASSERT_NE(box(), nullptr);
    EXPECT_NEAR((centre(*box()) - zvuVector3Dd{10, 0, 0}).length(), 0.0, 1e-12) << "no exchange yet: one cube";
    EXPECT_NEAR(box()->max().x, c, 1e-12);

    step();
    const double next[3] = {20, 0, 0};
    frame(true, next);
    ASSERT_NE(box(), nullptr);
    EXPECT_NEAR((centre(*box()) - zvuVector3Dd{15, 0, 0}).length(), 0.0, 1e-12);
    EXPECT_NEAR(box()->max().x, c - 5.0, 1e-12);
    EXPECT_NEAR(box()->max().y, c, 1e-12);

    frame(true, far);
    ASSERT_NE(box(), nullptr);
    EXPECT_NEAR((centre(*box()) - zvuVector3Dd{60, 0, 0}).length(), 0.0, 1e-12);
    EXPECT_NEAR(box()->max().x, c, 1e-12);
    EXPECT_TRUE(errors().empty()) << "nothing went wrong in qmEndFrame";

    // A frame without the box forgets it: the next one starts as one cube.
    frame(false);
    frame(true, near);
    EXPECT_NEAR((centre(*box()) - zvuVector3Dd{10, 0, 0}).length(), 0.0, 1e-12);
    EXPECT_NEAR(box()->max().x, c, 1e-12);
}

// The box keeps the collision proxy inside it: the device leaves the golden
// region, the proxy stops at the box's wall (touched from inside), and the
// servo side never gets the box's features.
TEST_F(GoldenBox, HoldsTheProxyInsideTheCapturedRegion) {
    const double start[3] = {0, 0, 0};
    ASSERT_EQ(korvo_sim_place_stylus(device, start), 0);
    run(5);
    frame(true);
    run(2);
    const double away[3] = {40, 0, 0};
    ASSERT_EQ(korvo_sim_place_stylus(device, away), 0);
    run(3);
    const QM::IProxy& proxy = context().sceneRenderer->getCollisionProxy();
    const double c = GoldenBoundsBox::halfSize(30.0);
    const zvuVector3Dd p = proxy.motionTransform(2)->position();
    EXPECT_LT(p.x, c + 1e-6);
    EXPECT_GT(p.x, c - 0.01);
    EXPECT_TRUE(errors().empty());
}

}  // namespace
