// Reading GL_3D feedback streams into touch geometry: tokens, order, and
// streams that end or lie about their lengths (run under ASan, the streams
// sit in heap blocks of exactly their length, so any read past the end
// fails the test).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qm/shapes/FeedbackStream.h"

namespace {

using QM::FeedbackStreamStatus;
using QM::TouchGeometry;

constexpr float kPassThrough = 0x0700, kPoint = 0x0701, kLine = 0x0702, kPolygon = 0x0703, kBitmap = 0x0704,
                kDrawPixel = 0x0705, kCopyPixel = 0x0706, kLineReset = 0x0707;

// A heap copy of exactly the stream's length.
struct Stream {
    explicit Stream(const std::vector<float>& values)
        : size(static_cast<int>(values.size())), data(new float[values.size()]) {
        std::copy(values.begin(), values.end(), data.get());
    }
    int size;
    std::unique_ptr<float[]> data;
};

bool sameVertex(const zvu::zvuVector3Df& v, float x, float y, float z) { return v.x == x && v.y == y && v.z == z; }

TEST(FeedbackStream, QuadBecomesFanOfTwoTriangles) {
    for (bool ccw : {true, false}) {
        const Stream s({kPolygon, 4, 0, 0, 0.5f, 10, 0, 0.5f, 10, 10, 0.5f, 0, 10, 0.5f});
        TouchGeometry g;
        const auto r = QM::parseFeedbackStream(s.data.get(), s.size, ccw, g);
        EXPECT_TRUE(r.complete());
        EXPECT_EQ(r.stoppedAt, s.size);
        ASSERT_EQ(g.triangleCount(), 2u);
        EXPECT_EQ(g.triangles().capacity(), 2u);  // reserved exactly
        const auto& t0 = g.triangle(0);
        const auto& t1 = g.triangle(1);
        EXPECT_TRUE(sameVertex(t0.vertices[0], 0, 0, 0.5f));
        EXPECT_TRUE(sameVertex(t0.vertices[1], 10, 0, 0.5f));
        EXPECT_TRUE(sameVertex(t0.vertices[2], 10, 10, 0.5f));
        EXPECT_TRUE(sameVertex(t1.vertices[0], 0, 0, 0.5f));
        EXPECT_TRUE(sameVertex(t1.vertices[1], 10, 10, 0.5f));
        EXPECT_TRUE(sameVertex(t1.vertices[2], 0, 10, 0.5f));
        // Counter-clockwise in window coordinates faces the viewer, who
        // looks along +z (depth grows away): the front normal is -z.
        for (const auto* t : {&t0, &t1}) {
            EXPECT_EQ(t->edgeOrderNormal, ccw ? 0 : 1);
            EXPECT_EQ(t->normal.z, ccw ? -1.0 : 1.0);
            EXPECT_EQ(t->d, ccw ? 0.5 : -0.5);
        }
    }
}

TEST(FeedbackStream, PolygonsOfEveryVertexCount) {
    // 0, 1 and 2 vertices give no triangle; 12 give a fan of 10.
    std::vector<float> values = {kPolygon, 0, kPolygon, 1, 1, 1, 1, kPolygon, 2, 1, 1, 1, 2, 2, 2, kPolygon, 12};
    for (int k = 0; k < 12; ++k) {
        values.insert(values.end(), {static_cast<float>(std::cos(k * 0.5)), static_cast<float>(std::sin(k * 0.5)), 0});
    }
    const Stream s(values);
    TouchGeometry g;
    const auto r = QM::parseFeedbackStream(s.data.get(), s.size, true, g);
    EXPECT_TRUE(r.complete());
    ASSERT_EQ(g.triangleCount(), 10u);
    for (int k = 2; k < 12; ++k) {
        const auto& t = g.triangle(static_cast<std::size_t>(k - 2));
        EXPECT_EQ(t.vertices[0].x, values[17]);
        EXPECT_EQ(t.vertices[1].x, values[17 + 3 * (k - 1)]);
        EXPECT_EQ(t.vertices[2].x, values[17 + 3 * k]);
    }
}

// Every token's values are stepped over, even when they look like tokens:
// the vertex coordinates below equal token values.
TEST(FeedbackStream, TokensWithoutGeometryAreSteppedOver) {
    const Stream s({kBitmap, kPoint, kPoint,       kPoint, kDrawPixel, kLine, kPolygon, 3, kCopyPixel, kPolygon,
                    0,       1,      kPassThrough, kPoint, 42.0f,      -1.0f, kPoint,   7, 8,          0.25f});
    TouchGeometry g;
    const auto r = QM::parseFeedbackStream(s.data.get(), s.size, true, g);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(g.triangleCount(), 0u);
    EXPECT_EQ(g.lineCount(), 0u);
    ASSERT_EQ(g.pointCount(), 1u);
    EXPECT_TRUE(sameVertex(g.point(0), 7, 8, 0.25f));
}

TEST(FeedbackStream, LinesThenResetLinesInStreamOrder) {
    const Stream s({kLine, 1, 0, 0, 1, 1, 0, kLineReset, 2, 0, 0, 2, 1, 0, kPoint, 9, 9, 0,
                    kLine, 3, 0, 0, 3, 1, 0, kLineReset, 4, 0, 0, 4, 1, 0, kPoint, 8, 8, 0});
    TouchGeometry g;
    const auto r = QM::parseFeedbackStream(s.data.get(), s.size, true, g);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.lines, 4u);
    ASSERT_EQ(g.lineCount(), 4u);
    const float expected[] = {1, 3, 2, 4};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(g.line(i).a.x, expected[i]);
        EXPECT_EQ(g.line(i).b.y, 1.0f);
    }
    ASSERT_EQ(g.pointCount(), 2u);
    EXPECT_EQ(g.point(0).x, 9.0f);
    EXPECT_EQ(g.point(1).x, 8.0f);
}

// Streams whose last token claims more values than there are, or a polygon
// count that is no count: reading stops at that token, keeps everything
// before it, and says why.
TEST(FeedbackStream, MalformedStreamsStopWithoutReadingPastTheEnd) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> tail;  // after one complete point and one triangle
        FeedbackStreamStatus status;
    };
    const std::vector<Case> cases = {
        {"polygon count beyond the stream", {kPolygon, 5, 1, 1, 1, 2, 2, 2}, FeedbackStreamStatus::Truncated},
        {"polygon count far beyond any int", {kPolygon, 1e30f, 1, 1, 1}, FeedbackStreamStatus::Truncated},
        {"polygon without its count", {kPolygon}, FeedbackStreamStatus::Truncated},
        {"polygon count NaN", {kPolygon, nan, 1, 1, 1}, FeedbackStreamStatus::BadPolygonCount},
        {"polygon count negative", {kPolygon, -3, 1, 1, 1}, FeedbackStreamStatus::BadPolygonCount},
        {"polygon count fractional", {kPolygon, 1.5f, 1, 1, 1}, FeedbackStreamStatus::BadPolygonCount},
        {"polygon count infinite", {kPolygon, inf, 1, 1, 1}, FeedbackStreamStatus::BadPolygonCount},
        {"line missing its second vertex", {kLine, 1, 1, 1, 2, 2}, FeedbackStreamStatus::Truncated},
        {"line reset missing a coordinate", {kLineReset, 1, 1, 1, 2, 2}, FeedbackStreamStatus::Truncated},
        {"point missing its depth", {kPoint, 1, 1}, FeedbackStreamStatus::Truncated},
        {"bitmap without its vertex", {kBitmap}, FeedbackStreamStatus::Truncated},
        {"pass-through without its value", {kPassThrough}, FeedbackStreamStatus::Truncated},
    };
    const std::vector<float> head = {kPoint, 5, 5, 0, kPolygon, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    for (const Case& c : cases) {
        std::vector<float> values = head;
        values.insert(values.end(), c.tail.begin(), c.tail.end());
        Stream s(values);
        TouchGeometry g;
        const auto r = QM::parseFeedbackStream(s.data.get(), s.size, true, g);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.stoppedAt, static_cast<int>(head.size())) << c.name;
        EXPECT_EQ(g.pointCount(), 1u) << c.name;
        EXPECT_EQ(g.triangleCount(), 1u) << c.name;
        EXPECT_EQ(g.lineCount(), 0u) << c.name;
        // Depth scaling walks the same way and stops at the same token.
        const auto scaled = QM::scaleDepths(s.data.get(), s.size, 2.0f);
        EXPECT_EQ(scaled.status, c.status) << c.name;
        EXPECT_EQ(scaled.stoppedAt, r.stoppedAt) << c.name;
    }
    TouchGeometry g;
    EXPECT_TRUE(QM::parseFeedbackStream(nullptr, 10, true, g).complete());
    EXPECT_EQ(g.triangleCount(), 0u);
}

TEST(FeedbackStream, ScaleDepthsTouchesVertexDepthsOnly) {
    const std::vector<float> values = {kPassThrough, 3, kPoint, 1, 2, 3, 7, kBitmap, 1, 1, 3, kLine, 0, 0, 3, 1, 1, 3,
                                       kPolygon,     3, 0,      0, 3, 1, 0, 3,       0, 1, 3};
    Stream s(values);
    const auto r = QM::scaleDepths(s.data.get(), s.size, 0.5f);
    EXPECT_TRUE(r.complete());
    std::vector<float> expected = values;
    for (int i : {5, 10, 14, 17, 22, 25, 28}) expected[static_cast<std::size_t>(i)] = 1.5f;
    for (int i = 0; i < s.size; ++i) EXPECT_EQ(s.data[i], expected[static_cast<std::size_t>(i)]) << "at " << i;
}

}  // namespace
