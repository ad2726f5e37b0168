// Reading an OpenGL feedback buffer captured in GL_3D mode.
//
// The stream is a run of floats: a token, then the token's values. Each
// vertex is three floats (window x, window y, depth). Tokens are compared
// with the float values of the GL enumerants for exact equality:
//   pass-through  one value follows;
//   point         one vertex;
//   line          two vertices; line reset  two vertices;
//   polygon       a vertex count n, then n vertices;
//   bitmap, draw pixel, copy pixel   one vertex each, no geometry.
// Any other value counts as a token without values and is stepped over.
//
// The stream comes from the driver but is read as untrusted: a token whose
// values would run past the end of the stream, or a polygon count that is
// not a non-negative whole number, ends the reading there. What came before
// is kept and the result says where and why it stopped; nothing past the
// end of the stream is ever read or written.
//
// These functions run on the client thread; they touch nothing but their
// arguments.
#pragma once

#include <cstddef>

#include "qm/shapes/TouchGeometry.h"

namespace QM {

enum class FeedbackStreamStatus {
    Complete,
    // A token's values run past the end of the stream.
    Truncated,
    // A polygon's vertex count is negative, fractional, infinite or NaN.
    BadPolygonCount,
};

struct FeedbackParseResult {
    FeedbackStreamStatus status{FeedbackStreamStatus::Complete};
    // Index of the token at which reading stopped; count when complete.
    int stoppedAt{0};
    std::size_t points{0};
    std::size_t lines{0};
    std::size_t triangles{0};

    bool complete() const noexcept { return status == FeedbackStreamStatus::Complete; }
};

// Appends the stream's geometry to `geometry`, in stream order: one point
// per point token; one line per line token, then one per line-reset token;
// for a polygon of n vertices the fan (0, k - 1, k), k = 2 .. n - 1, each
// triangle with edgeOrderNormal 0 when front faces are counter-clockwise in
// window coordinates and 1 otherwise, and its plane computed. A first pass
// counts the elements so that the geometry grows once, by exactly what is
// added. A negative count or a null stream reads as empty. Throws
// std::bad_alloc when the geometry cannot grow (nothing is added then).
FeedbackParseResult parseFeedbackStream(const float* stream, int count, bool frontFaceIsCCW, TouchGeometry& geometry);

// Multiplies the depth of every vertex in the stream (those of bitmap and
// pixel tokens included) by s, walking the tokens as the parser does and
// stopping where it would stop.
FeedbackParseResult scaleDepths(float* stream, int count, float s) noexcept;

}  // namespace QM
