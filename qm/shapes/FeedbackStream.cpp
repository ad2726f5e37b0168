#include "qm/shapes/FeedbackStream.h"

#include <cmath>

namespace QM {

namespace {

constexpr float kPassThroughToken = 0x0700;
constexpr float kPointToken = 0x0701;
constexpr float kLineToken = 0x0702;
constexpr float kPolygonToken = 0x0703;
constexpr float kBitmapToken = 0x0704;
constexpr float kDrawPixelToken = 0x0705;
constexpr float kCopyPixelToken = 0x0706;
constexpr float kLineResetToken = 0x0707;

constexpr int kVertexSize = 3;

// Walks the tokens of a stream, handing each vertex-carrying token to the
// visitor with a pointer to its first vertex:
//   point(v), line(v, reset), polygon(v, n), marker(v) (bitmap and pixels).
// Every pointer handed out has all of its token's values inside the stream.
// Float (T = const float) or writable (T = float) streams alike.
template <typename T, typename Visitor>
FeedbackParseResult walk(T* stream, int count, Visitor& visitor) {
    FeedbackParseResult result;
    if (stream == nullptr || count <= 0) return result;
    int at = 0;
    auto stop = [&](FeedbackStreamStatus status) {
        result.status = status;
        result.stoppedAt = at;
        return result;
    };
    while (at < count) {
        const float token = stream[at];
        // Values left after the token; never negative.
        const int left = count - at - 1;
        T* values = stream + at + 1;
        if (token == kPassThroughToken) {
            if (left < 1) return stop(FeedbackStreamStatus::Truncated);
            at += 2;
        } else if (token == kPointToken || token == kBitmapToken || token == kDrawPixelToken ||
                   token == kCopyPixelToken) {
            if (left < kVertexSize) return stop(FeedbackStreamStatus::Truncated);
            if (token == kPointToken)
                visitor.point(values);
            else
                visitor.marker(values);
            at += 1 + kVertexSize;
        } else if (token == kLineToken || token == kLineResetToken) {
            if (left < 2 * kVertexSize) return stop(FeedbackStreamStatus::Truncated);
            visitor.line(values, token == kLineResetToken);
            at += 1 + 2 * kVertexSize;
        } else if (token == kPolygonToken) {
            if (left < 1) return stop(FeedbackStreamStatus::Truncated);
            const float n = values[0];
            if (!(n >= 0.0f) || std::isinf(n) || n != std::floor(n)) return stop(FeedbackStreamStatus::BadPolygonCount);
            // Compared in floating point: n may be far beyond any int.
            if (static_cast<double>(n) * kVertexSize > static_cast<double>(left - 1))
                return stop(FeedbackStreamStatus::Truncated);
            const int vertices = static_cast<int>(n);
            visitor.polygon(values + 1, vertices);
            at += 2 + vertices * kVertexSize;
        } else {
            at += 1;
        }
    }
    result.stoppedAt = count;
    return result;
}

zvu::zvuVector3Df vertexAt(const float* v) noexcept { return {v[0], v[1], v[2]}; }

struct Counter {
    std::size_t points = 0;
    std::size_t lines = 0;
    std::size_t resetLines = 0;
    std::size_t triangles = 0;
    void point(const float*) noexcept { ++points; }
    void marker(const float*) noexcept {}
    void line(const float*, bool reset) noexcept { ++(reset ? resetLines : lines); }
    void polygon(const float*, int n) noexcept {
        if (n > 2) triangles += static_cast<std::size_t>(n - 2);
    }
};

// Fills the geometry; with resetPass it adds only the line-reset lines,
// otherwise everything but them.
struct Filler {
    TouchGeometry& geometry;
    int edgeOrderNormal;
    bool resetPass;

    void point(const float* v) {
        if (!resetPass) geometry.addPoint(vertexAt(v));
    }
    void marker(const float*) noexcept {}
    void line(const float* v, bool reset) {
        if (reset == resetPass) geometry.addLine(vertexAt(v), vertexAt(v + kVertexSize));
    }
    void polygon(const float* v, int n) {
        if (resetPass) return;
        const zvu::zvuVector3Df first = vertexAt(v);
        for (int k = 2; k < n; ++k) {
            const zvu::PrimitiveTriangle triangle(
                {first, vertexAt(v + (k - 1) * kVertexSize), vertexAt(v + k * kVertexSize)}, edgeOrderNormal);
            geometry.addTriangle(triangle);
        }
    }
};

struct DepthScaler {
    float s;
    void scale(float* v, int vertices) noexcept {
        for (int k = 0; k < vertices; ++k) v[k * kVertexSize + 2] *= s;
    }
    void point(float* v) noexcept { scale(v, 1); }
    void marker(float* v) noexcept { scale(v, 1); }
    void line(float* v, bool) noexcept { scale(v, 2); }
    void polygon(float* v, int n) noexcept { scale(v, n); }
};

}  // namespace

FeedbackParseResult parseFeedbackStream(const float* stream, int count, bool frontFaceIsCCW, TouchGeometry& geometry) {
    Counter counter;
    FeedbackParseResult result = walk(stream, count, counter);
    result.points = counter.points;
    result.lines = counter.lines + counter.resetLines;
    result.triangles = counter.triangles;

    // The adds below stay within the reservation, so they cannot throw.
    geometry.reserve(geometry.pointCount() + result.points, geometry.lineCount() + result.lines,
                     geometry.triangleCount() + result.triangles);
    Filler filler{geometry, frontFaceIsCCW ? 0 : 1, false};
    walk(stream, count, filler);
    if (counter.resetLines != 0) {
        filler.resetPass = true;
        walk(stream, count, filler);
    }
    return result;
}

FeedbackParseResult scaleDepths(float* stream, int count, float s) noexcept {
    DepthScaler scaler{s};
    return walk(stream, count, scaler);
}

}  // namespace QM
