#include "qm/shapes/TouchGeometry.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace QM {

using zvu::PrimitiveTriangle;
using zvu::toDouble;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;
using zvu::zvuVector3Df;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Leaves hold at most this many elements.
constexpr std::uint32_t kLeafSize = 4;
// The traversal stack. A node pushes at most four entries after popping one,
// so a tree gathered from a binary tree of depth d needs at most 3 d + 1.
constexpr int kBinaryDepthLimit = 80;
constexpr int kStackSize = 3 * kBinaryDepthLimit + 1;

// Queries with a tolerance above this scan linearly: the builder sets apart
// the triangles whose containment test misbehaves at tolerances up to it.
constexpr double kLargestTolerance = 1.0 / 1024.0;
constexpr double kSmallestTolerance = 1e-30;

// The element tests of the reference scan. The hierarchy calls exactly the
// same functions, so both paths compute the same parameters bit for bit.
// The triangle tests are called non-virtually: the elements are stored by
// value and are exactly PrimitiveTriangles.

bool pointHit(const zvuLineSegmentd& segment, const zvuVector3Df& point, double eps, double& t) noexcept {
    const zvuVector3Dd p = toDouble(point);
    const double s = segment.closestParameter(p);
    if ((p - segment.pointAt(s)).length() <= eps) {
        t = s;
        return true;
    }
    return false;
}

bool lineHit(const zvuLineSegmentd& segment, const TouchGeometry::Line& line, double eps, double& t) noexcept {
    const zvuLineSegmentd edge(toDouble(line.a), toDouble(line.b));
    double s = 0.0;
    double u = 0.0;
    if (segment.closestSegmentPoints(edge, s, u, eps) <= eps) {
        t = s;
        return true;
    }
    return false;
}

int triangleHit(const PrimitiveTriangle& triangle, const zvuLineSegmentd& segment, FaceMode faces, double eps,
                double& t) noexcept {
    switch (faces) {
    case FaceMode::Front: return triangle.PrimitiveTriangle::intersectSegmentFront(segment, t, eps);
    case FaceMode::Back: return triangle.PrimitiveTriangle::intersectSegmentBack(segment, t, eps);
    case FaceMode::FrontAndBack: return triangle.PrimitiveTriangle::intersectSegment(segment, t, eps);
    case FaceMode::None: break;
    }
    return 0;
}

double triangleDistance(const PrimitiveTriangle& triangle, const zvuVector3Dd& query, double eps,
                        zvuVector3Dd& closestPoint) noexcept {
    closestPoint = triangle.PrimitiveTriangle::closestPoint(query, eps);
    return (query - closestPoint).lengthSquared();
}

double lineDistance(const TouchGeometry::Line& line, const zvuVector3Dd& query, zvuVector3Dd& closestPoint) noexcept {
    const zvuLineSegmentd edge(toDouble(line.a), toDouble(line.b));
    closestPoint = edge.pointAt(edge.closestParameter(query));
    return (query - closestPoint).lengthSquared();
}

double pointDistance(const zvuVector3Df& point, const zvuVector3Dd& query) noexcept {
    return (query - toDouble(point)).lengthSquared();
}

bool finite(const zvuVector3Dd& v) noexcept { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool finite(const zvuVector3Df& v) noexcept { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

double largestMagnitude(const zvuVector3Dd& v) noexcept {
    return std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
}

// ------------------------------------------------------------------ build

struct Box {
    float lo[3];
    float hi[3];
};

Box boxOf(const zvuVector3Df* vertices, int count) noexcept {
    Box b{{vertices[0].x, vertices[0].y, vertices[0].z}, {vertices[0].x, vertices[0].y, vertices[0].z}};
    for (int k = 1; k < count; ++k) {
        for (int a = 0; a < 3; ++a) {
            b.lo[a] = std::min(b.lo[a], vertices[k][a]);
            b.hi[a] = std::max(b.hi[a], vertices[k][a]);
        }
    }
    return b;
}

void unite(float* lo, float* hi, const float* otherLo, const float* otherHi) noexcept {
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], otherLo[a]);
        hi[a] = std::max(hi[a], otherHi[a]);
    }
}

// Spreads the low 10 bits of v to every third bit.
std::uint32_t spreadBits(std::uint32_t v) noexcept {
    v &= 0x3ffu;
    v = (v | (v << 16)) & 0x030000ffu;
    v = (v | (v << 8)) & 0x0300f00fu;
    v = (v | (v << 4)) & 0x030c30c3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
}

struct BinaryNode {
    float lo[3];
    float hi[3];
    std::uint32_t first;
    std::uint32_t count;
};

// Builds a hierarchy over the given elements (their boxes indexed by element
// number), first as a binary linear bounding-volume hierarchy: the elements are sorted
// along a Morton curve through their box centres (10 bits per axis, each
// axis scaled to the centres' own extent) and the sorted run is split top
// down at the highest bit in which its first and last codes differ, or in
// the middle when they are equal. Sorting is a stable radix sort, so equal
// codes keep index order and the tree is the same run to run. A split never
// leaves a side empty, so the tree has at most 2n - 1 nodes and is at most
// 30 + log2(n) levels deep. Then every node gathers the nodes two levels
// below it (its children and, in place of an inner child, that child's
// children, the larger box first) into one node of four.
class TreeBuilder {
public:
    TreeBuilder(TouchGeometry::Hierarchy& tree, const std::vector<Box>& boxes) : tree_(tree), boxes_(boxes) {}

    void build(const std::vector<std::uint32_t>& members) {
        const std::size_t n = members.size();
        tree_.nodes.clear();
        tree_.order.clear();
        tree_.depth = 0;
        if (n == 0) return;

        float centreLo[3] = {kInf, kInf, kInf};
        float centreHi[3] = {-kInf, -kInf, -kInf};
        for (std::uint32_t e : members) {
            const Box& b = boxes_[e];
            for (int a = 0; a < 3; ++a) {
                const float c = 0.5f * (b.lo[a] + b.hi[a]);
                centreLo[a] = std::min(centreLo[a], c);
                centreHi[a] = std::max(centreHi[a], c);
            }
        }
        float scale[3];
        for (int a = 0; a < 3; ++a) {
            const float extent = centreHi[a] - centreLo[a];
            scale[a] = extent > 0.0f ? 1023.0f / extent : 0.0f;
        }

        // (code << 32 | element), radix sorted on the code in three passes
        // of 10 bits, the three histograms counted in one sweep.
        keys_.resize(n);
        std::vector<std::uint64_t> scratch(n);
        std::vector<std::uint32_t> counts(3 * 1025, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const Box& b = boxes_[members[i]];
            std::uint32_t code = 0;
            for (int a = 0; a < 3; ++a) {
                const float c = 0.5f * (b.lo[a] + b.hi[a]);
                const float q = std::clamp((c - centreLo[a]) * scale[a], 0.0f, 1023.0f);
                code |= spreadBits(static_cast<std::uint32_t>(q)) << (2 - a);
            }
            keys_[i] = (static_cast<std::uint64_t>(code) << 32) | members[i];
            ++counts[(code & 1023u) + 1];
            ++counts[1025 + ((code >> 10) & 1023u) + 1];
            ++counts[2050 + ((code >> 20) & 1023u) + 1];
        }
        for (int pass = 0; pass < 3; ++pass) {
            std::uint32_t* count = counts.data() + 1025 * pass;
            for (int i = 0; i < 1024; ++i) count[i + 1] += count[i];
            const int shift = 32 + 10 * pass;
            for (std::uint64_t k : keys_) scratch[count[(k >> shift) & 1023u]++] = k;
            keys_.swap(scratch);
        }

        tree_.order.resize(n);
        for (std::size_t i = 0; i < n; ++i) tree_.order[i] = static_cast<std::uint32_t>(keys_[i]);
        binary_.reserve(2 * n);
        binary_.push_back({});
        subdivide(0, 0, static_cast<std::uint32_t>(n), 1);
        for (int a = 0; a < 3; ++a) {
            tree_.lo[a] = binary_[0].lo[a];
            tree_.hi[a] = binary_[0].hi[a];
        }
        keys_ = {};
        // An inner binary node becomes at most one wide node.
        tree_.nodes.reserve(binary_.size() / 2 + 1);
        tree_.nodes.push_back({});
        if (binary_[0].count != 0) {
            // A single leaf: one wide node holding it.
            TouchGeometry::Node& root = tree_.nodes[0];
            clearNode(root);
            setSlot(root, 0, binary_[0], binary_[0].first, binary_[0].count);
        } else {
            gather(0, 0);
        }
        binary_ = {};
    }

private:
    static constexpr float kInf = std::numeric_limits<float>::infinity();

    static void clearNode(TouchGeometry::Node& node) noexcept {
        for (int j = 0; j < 4; ++j) {
            for (int a = 0; a < 3; ++a) {
                node.lo[a][j] = kInf;
                node.hi[a][j] = -kInf;
            }
            node.child[j] = 0;
            node.count[j] = TouchGeometry::kUnused;
        }
    }

    static void setSlot(TouchGeometry::Node& node, int j, const BinaryNode& box, std::uint32_t child,
                        std::uint32_t count) noexcept {
        for (int a = 0; a < 3; ++a) {
            node.lo[a][j] = box.lo[a];
            node.hi[a][j] = box.hi[a];
        }
        node.child[j] = child;
        node.count[j] = count;
    }

    static float halfArea(const BinaryNode& b) noexcept {
        const float x = b.hi[0] - b.lo[0], y = b.hi[1] - b.lo[1], z = b.hi[2] - b.lo[2];
        return x * y + y * z + z * x;
    }

    // Fills wide node `wide` with the binary inner node `inner`'s
    // descendants, recursively.
    void gather(std::uint32_t wide, std::uint32_t inner) {
        std::uint32_t slots[4] = {binary_[inner].first, binary_[inner].first + 1, 0, 0};
        int used = 2;
        while (used < 4) {
            int widest = -1;
            for (int j = 0; j < used; ++j) {
                if (binary_[slots[j]].count == 0 &&
                    (widest < 0 || halfArea(binary_[slots[j]]) > halfArea(binary_[slots[widest]])))
                    widest = j;
            }
            if (widest < 0) break;
            const std::uint32_t first = binary_[slots[widest]].first;
            slots[widest] = first;
            slots[used++] = first + 1;
        }
        clearNode(tree_.nodes[wide]);
        for (int j = 0; j < used; ++j) {
            const BinaryNode& b = binary_[slots[j]];
            if (b.count != 0) {
                setSlot(tree_.nodes[wide], j, b, b.first, b.count);
            } else {
                const auto index = static_cast<std::uint32_t>(tree_.nodes.size());
                tree_.nodes.push_back({});
                setSlot(tree_.nodes[wide], j, b, index, 0);
                gather(index, slots[j]);
            }
        }
    }

    void subdivide(std::uint32_t nodeIndex, std::uint32_t begin, std::uint32_t end, int depth) {
        tree_.depth = std::max(tree_.depth, depth);
        if (end - begin <= kLeafSize) {
            BinaryNode& node = binary_[nodeIndex];
            const Box& b0 = boxes_[tree_.order[begin]];
            std::copy(b0.lo, b0.lo + 3, node.lo);
            std::copy(b0.hi, b0.hi + 3, node.hi);
            for (std::uint32_t i = begin + 1; i < end; ++i) {
                const Box& b = boxes_[tree_.order[i]];
                unite(node.lo, node.hi, b.lo, b.hi);
            }
            node.first = begin;
            node.count = end - begin;
            return;
        }
        std::uint32_t split = begin + (end - begin) / 2;
        const std::uint32_t differing = code(begin) ^ code(end - 1);
        if (differing != 0) {
            const std::uint32_t bit = 1u << (31 - std::countl_zero(differing));
            // The first code with the bit set; codes are sorted and agree
            // above the bit, so that is where the run splits.
            split = static_cast<std::uint32_t>(
                std::partition_point(keys_.begin() + begin, keys_.begin() + end,
                                     [bit](std::uint64_t k) { return ((k >> 32) & bit) == 0; }) -
                keys_.begin());
        }
        const auto left = static_cast<std::uint32_t>(binary_.size());
        binary_.push_back({});
        binary_.push_back({});
        subdivide(left, begin, split, depth + 1);
        subdivide(left + 1, split, end, depth + 1);
        BinaryNode& node = binary_[nodeIndex];
        const BinaryNode& a = binary_[left];
        const BinaryNode& b = binary_[left + 1];
        std::copy(a.lo, a.lo + 3, node.lo);
        std::copy(a.hi, a.hi + 3, node.hi);
        unite(node.lo, node.hi, b.lo, b.hi);
        node.first = left;
        node.count = 0;
    }

    TouchGeometry::Hierarchy& tree_;
    const std::vector<Box>& boxes_;
    std::uint32_t code(std::uint32_t i) const noexcept { return static_cast<std::uint32_t>(keys_[i] >> 32); }

    // Sorted (Morton code << 32 | element) during a build.
    std::vector<std::uint64_t> keys_;
    std::vector<BinaryNode> binary_;
};

// ------------------------------------------------------------------ queries

// Four floats: a node's four boxes are tested together.
typedef float Float4 __attribute__((vector_size(16)));

Float4 splat(float v) noexcept { return Float4{v, v, v, v}; }
Float4 load4(const float* p) noexcept {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
Float4 min4(Float4 a, Float4 b) noexcept { return a < b ? a : b; }
Float4 max4(Float4 a, Float4 b) noexcept { return a > b ? a : b; }

constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();

// A float not below (up) or not above (down) v: moved outwards by 1e-6 of
// its size, which is more than the 2^-24 that rounding to float can take
// off.
float floatUp(double v) noexcept { return static_cast<float>(v + std::fabs(v) * 1e-6 + 1e-30); }
float floatDown(double v) noexcept { return static_cast<float>(v - std::fabs(v) * 1e-6 - 1e-30); }

// The box test of a node's four boxes, grown by pad, against the line
// start + s u for s in [sMin, sMax]: for each box the s at which the line
// enters it, or infinity when it misses. It runs in float, on the start
// and the inverse direction rounded to float; the callers' pads carry an
// allowance for that rounding. Axes along which the direction (nearly)
// vanishes are tested by the start point alone, and so are all axes of a
// segment of length zero.
struct LineProbe {
    float start[3];
    float inverse[3];
    float pad[3];
    bool negative[3];
    bool still[3];
    float sMin;
    float sMax;

    void enter(const TouchGeometry::Node& node, float* out) const noexcept {
        Float4 lo = splat(sMin);
        Float4 hi = splat(sMax);
        for (int a = 0; a < 3; ++a) {
            const Float4 boxLo = load4(node.lo[a]) - splat(pad[a]);
            const Float4 boxHi = load4(node.hi[a]) + splat(pad[a]);
            const Float4 origin = splat(start[a]);
            if (still[a]) {
                lo = (origin < boxLo) | (origin > boxHi) ? splat(kFloatInfinity) : lo;
                continue;
            }
            const Float4 t0 = (boxLo - origin) * splat(inverse[a]);
            const Float4 t1 = (boxHi - origin) * splat(inverse[a]);
            lo = max4(lo, negative[a] ? t1 : t0);
            hi = min4(hi, negative[a] ? t0 : t1);
        }
        const Float4 result = lo <= hi ? lo : splat(kFloatInfinity);
        std::memcpy(out, &result, sizeof result);
    }
};

// Squared distances from a point to a node's four boxes grown by pad, in
// float as above.
struct PointProbe {
    float query[3];
    float pad[3];

    void distances(const TouchGeometry::Node& node, float* out) const noexcept {
        Float4 sum = splat(0.0f);
        for (int a = 0; a < 3; ++a) {
            const Float4 q = splat(query[a]);
            const Float4 below = load4(node.lo[a]) - splat(pad[a]) - q;
            const Float4 above = q - (load4(node.hi[a]) + splat(pad[a]));
            const Float4 d = max4(max4(below, above), splat(0.0f));
            sum += d * d;
        }
        std::memcpy(out, &sum, sizeof sum);
    }
};

// The best hit so far, ordered by (t, kind, index): the order in which the
// linear scan would let a hit stand.
struct BestHit {
    double t{kInfinity};
    int kind{3};
    std::uint32_t index{0};
    int code{0};
    bool found{false};

    bool offer(double candidateT, int candidateKind, std::uint32_t candidateIndex, int candidateCode) noexcept {
        if (found && !(candidateT < t || (candidateT == t &&
                                          (candidateKind < kind || (candidateKind == kind && candidateIndex < index)))))
            return false;
        t = candidateT;
        kind = candidateKind;
        index = candidateIndex;
        code = candidateCode;
        found = true;
        return true;
    }
};

struct BestDistance {
    double distance{kInfinity};
    std::uint32_t index{0};
    bool found{false};
    zvuVector3Dd point{};

    void offer(double candidate, std::uint32_t candidateIndex, const zvuVector3Dd& candidatePoint) noexcept {
        if (!(candidate < distance || (found && candidate == distance && candidateIndex < index))) return;
        distance = candidate;
        index = candidateIndex;
        point = candidatePoint;
        found = true;
    }
};

// Visits, nearest first, the leaves of `tree` whose boxes the probe's line
// enters at a parameter not beyond the best hit, and hands the position in
// tree.order of each leaf element to `test`. `bestS` reports the best hit's
// distance along the line so far (infinite without one); `slack` absorbs
// the rounding of the box test, so that a hit exactly at the best parameter
// is never skipped. `fetch` may prefetch a leaf's data (first position and
// count).
template <typename Test, typename Bound, typename Fetch>
void traverseAlong(const TouchGeometry::Hierarchy& tree, const LineProbe& probe, double slack, Bound bestS, Test test,
                   Fetch fetch) noexcept {
    if (tree.nodes.empty()) return;
    struct Entry {
        std::uint32_t child;
        std::uint32_t count;
        float enter;
    };
    Entry stack[kStackSize];
    int top = 0;
    stack[top++] = {0, 0, probe.sMin};
    while (top > 0) {
        const Entry entry = stack[--top];
        if (static_cast<double>(entry.enter) - slack > bestS()) continue;
        if (entry.count != 0) {
            for (std::uint32_t k = entry.child; k < entry.child + entry.count; ++k) test(k);
            continue;
        }
        const TouchGeometry::Node& node = tree.nodes[entry.child];
        float enter[4];
        probe.enter(node, enter);
        // Pushed farthest first, so that the nearest is taken next.
        Entry found[4];
        int n = 0;
        for (int j = 0; j < 4; ++j) {
            if (enter[j] == kFloatInfinity || node.count[j] == TouchGeometry::kUnused) continue;
            int at = n++;
            while (at > 0 && found[at - 1].enter < enter[j]) {
                found[at] = found[at - 1];
                --at;
            }
            found[at] = {node.child[j], node.count[j], enter[j]};
        }
        // Start fetching what the entries point to: the nearest is needed
        // next, the others later.
        for (int i = n - 1; i >= 0; --i) {
            if (found[i].count == 0) {
                const char* next = reinterpret_cast<const char*>(&tree.nodes[found[i].child]);
                __builtin_prefetch(next);
                __builtin_prefetch(next + 64);
            } else {
                fetch(found[i].child, found[i].count);
            }
        }
        for (int i = 0; i < n; ++i) stack[top++] = found[i];
    }
}

// Visits, nearest first, the leaves whose boxes (grown by the probe's pad)
// are not farther from the query than the best distance so far; `test` as
// above.
template <typename Test>
void traverseNear(const TouchGeometry::Hierarchy& tree, const PointProbe& probe, const BestDistance& best,
                  Test test) noexcept {
    if (tree.nodes.empty()) return;
    struct Entry {
        std::uint32_t child;
        std::uint32_t count;
        float distance;
    };
    // A float box distance is compared with an allowance for its rounding.
    constexpr double kShrink = 1.0 - 1e-5;
    Entry stack[kStackSize];
    int top = 0;
    stack[top++] = {0, 0, 0.0f};
    while (top > 0) {
        const Entry entry = stack[--top];
        if (static_cast<double>(entry.distance) * kShrink > best.distance) continue;
        if (entry.count != 0) {
            for (std::uint32_t k = entry.child; k < entry.child + entry.count; ++k) test(k);
            continue;
        }
        const TouchGeometry::Node& node = tree.nodes[entry.child];
        float distance[4];
        probe.distances(node, distance);
        Entry found[4];
        int n = 0;
        for (int j = 0; j < 4; ++j) {
            if (node.count[j] == TouchGeometry::kUnused) continue;
            int at = n++;
            while (at > 0 && found[at - 1].distance < distance[j]) {
                found[at] = found[at - 1];
                --at;
            }
            found[at] = {node.child[j], node.count[j], distance[j]};
        }
        for (int i = 0; i < n; ++i) stack[top++] = found[i];
    }
}

// Squared distance from p to the triangle abc, by the Voronoi regions of its
// vertices, edges and face (the triangle must have a non-zero normal).
double pointTriangleDistanceSquared(const zvuVector3Dd& p, const zvuVector3Dd& a, const zvuVector3Dd& b,
                                    const zvuVector3Dd& c) noexcept {
    const zvuVector3Dd ab = b - a, ac = c - a, ap = p - a;
    const double d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0.0 && d2 <= 0.0) return ap.lengthSquared();
    const zvuVector3Dd bp = p - b;
    const double d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0.0 && d4 <= d3) return bp.lengthSquared();
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) return (ap - ab * (d1 / (d1 - d3))).lengthSquared();
    const zvuVector3Dd cp = p - c;
    const double d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0.0 && d5 <= d6) return cp.lengthSquared();
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) return (ap - ac * (d2 / (d2 - d6))).lengthSquared();
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0)
        return (bp - (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)))).lengthSquared();
    const double scale = 1.0 / (va + vb + vc);
    return (ap - ab * (vb * scale) - ac * (vc * scale)).lengthSquared();
}

constexpr int kPointKind = 0;
constexpr int kLineKind = 1;
constexpr int kTriangleKind = 2;

}  // namespace

// ------------------------------------------------------------------ filling

void TouchGeometry::Hierarchy::clear() noexcept {
    nodes.clear();
    order.clear();
    always.clear();
    depth = 0;
}

std::size_t TouchGeometry::Hierarchy::memoryBytes() const noexcept {
    return nodes.capacity() * sizeof(Node) + (order.capacity() + always.capacity()) * sizeof(std::uint32_t);
}

void TouchGeometry::reserve(std::size_t points, std::size_t lines, std::size_t triangles) {
    points_.reserve(points);
    lines_.reserve(lines);
    triangles_.reserve(triangles);
}

void TouchGeometry::addPoint(const zvuVector3Df& point) {
    points_.push_back(point);
    built_ = false;
}

void TouchGeometry::addLine(const zvuVector3Df& a, const zvuVector3Df& b) {
    lines_.push_back({a, b});
    built_ = false;
}

void TouchGeometry::addTriangle(const PrimitiveTriangle& triangle) {
    triangles_.push_back(triangle);
    built_ = false;
}

void TouchGeometry::clear() noexcept {
    points_.clear();
    lines_.clear();
    triangles_.clear();
    pointTree_.clear();
    lineTree_.clear();
    triangleTree_.clear();
    triangleRecords_.clear();
    magnitude_ = 0.0;
    built_ = false;
}

std::size_t TouchGeometry::memoryBytes() const noexcept {
    return points_.capacity() * sizeof(zvuVector3Df) + lines_.capacity() * sizeof(Line) +
           triangles_.capacity() * sizeof(PrimitiveTriangle) + pointTree_.memoryBytes() + lineTree_.memoryBytes() +
           triangleTree_.memoryBytes() + triangleRecords_.capacity() * sizeof(TriangleRecord);
}

// ------------------------------------------------------------------ build

namespace {

// Whether the containment test of a triangle can be bounded by its box (see
// the comment on the tolerances in intersectHierarchy). It cannot for
//  - non-finite vertices;
//  - a triangle whose plane normal is zero but whose first edge has a tiny,
//    non-zero extent along the first axis the containment test projects on:
//    the test then solves with that extent taken as zero and can accept
//    points anywhere along the dropped axis;
//  - a triangle so thin for its size and position that the rounding of the
//    containment test is no longer small against the triangle.
bool boundedByBox(const PrimitiveTriangle& triangle, const Box& box) noexcept {
    for (int a = 0; a < 3; ++a)
        if (!std::isfinite(box.lo[a]) || !std::isfinite(box.hi[a])) return false;
    const zvuVector3Dd n = triangle.normal;
    const zvuVector3Dd p0 = triangle.v0();
    const zvuVector3Dd e1 = triangle.v1() - p0;
    const zvuVector3Dd e2 = triangle.v2() - p0;
    if (n.x == 0.0 && n.y == 0.0 && n.z == 0.0) return e1.y == 0.0 || std::fabs(e1.y) > kLargestTolerance;
    // The projection the containment test uses.
    const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    int u = 1, v = 2;
    if (!(ax >= ay && ax >= az)) {
        u = 0;
        v = ay >= az ? 2 : 1;
    }
    const double det = e2[v] * e1[u] - e1[v] * e2[u];
    double extent = 0.0;
    double magnitude = 0.0;
    for (int a = 0; a < 3; ++a) {
        extent = std::max(extent, static_cast<double>(box.hi[a]) - static_cast<double>(box.lo[a]));
        magnitude =
            std::max({magnitude, std::fabs(static_cast<double>(box.lo[a])), std::fabs(static_cast<double>(box.hi[a]))});
    }
    return std::fabs(det) * 1e8 >= extent * (extent + magnitude);
}

}  // namespace

void TouchGeometry::build() {
    built_ = false;
    pointTree_.clear();
    lineTree_.clear();
    triangleTree_.clear();
    magnitude_ = 0.0;

    std::vector<Box> boxes;
    std::vector<std::uint32_t> members;
    auto note = [this](const Box& b) {
        for (int a = 0; a < 3; ++a)
            magnitude_ = std::max(
                {magnitude_, std::fabs(static_cast<double>(b.lo[a])), std::fabs(static_cast<double>(b.hi[a]))});
    };

    boxes.resize(points_.size());
    members.reserve(std::max({points_.size(), lines_.size(), triangles_.size()}));
    for (std::size_t i = 0; i < points_.size(); ++i) {
        boxes[i] = boxOf(&points_[i], 1);
        if (finite(points_[i])) {
            members.push_back(static_cast<std::uint32_t>(i));
            note(boxes[i]);
        } else {
            pointTree_.always.push_back(static_cast<std::uint32_t>(i));
        }
    }
    TreeBuilder(pointTree_, boxes).build(members);

    members.clear();
    boxes.resize(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const zvuVector3Df ends[2] = {lines_[i].a, lines_[i].b};
        boxes[i] = boxOf(ends, 2);
        if (finite(ends[0]) && finite(ends[1])) {
            members.push_back(static_cast<std::uint32_t>(i));
            note(boxes[i]);
        } else {
            lineTree_.always.push_back(static_cast<std::uint32_t>(i));
        }
    }
    TreeBuilder(lineTree_, boxes).build(members);

    members.clear();
    boxes.resize(triangles_.size());
    for (std::size_t i = 0; i < triangles_.size(); ++i) {
        const PrimitiveTriangle& tri = triangles_[i];
        boxes[i] = boxOf(tri.vertices, 3);
        if (boundedByBox(tri, boxes[i])) {
            members.push_back(static_cast<std::uint32_t>(i));
            note(boxes[i]);
        } else {
            triangleTree_.always.push_back(static_cast<std::uint32_t>(i));
        }
    }
    TreeBuilder(triangleTree_, boxes).build(members);
    triangleRecords_.resize(triangleTree_.order.size());

    // The triangles are read in hierarchy order, which jumps about memory:
    // fetch a few ahead.
    constexpr std::size_t kAhead = 8;
    const std::size_t ordered = triangleTree_.order.size();
    for (std::size_t k = 0; k < ordered; ++k) {
        if (k + kAhead < ordered) __builtin_prefetch(&triangles_[triangleTree_.order[k + kAhead]]);
        const PrimitiveTriangle& tri = triangles_[triangleTree_.order[k]];
        TriangleRecord& r = triangleRecords_[k];
        for (int j = 0; j < 3; ++j) {
            r.v[3 * j] = tri.vertices[j].x;
            r.v[3 * j + 1] = tri.vertices[j].y;
            r.v[3 * j + 2] = tri.vertices[j].z;
        }
        const zvuVector3Dd n = tri.normal;
        if (n.x == 0.0 && n.y == 0.0 && n.z == 0.0) {
            r.reach = -1.0f;
            continue;
        }
        const zvuVector3Dd p0 = tri.v0(), p1 = tri.v1(), p2 = tri.v2();
        const double area2Squared = (p1 - p0).cross(p2 - p0).lengthSquared();
        const double edgeSquared =
            std::max({(p1 - p0).lengthSquared(), (p2 - p0).lengthSquared(), (p2 - p1).lengthSquared()});
        const double reach = std::sqrt(edgeSquared / area2Squared) * (1.0 + 1e-6);
        // Slivers (longest edge over 1e4 times the smallest height) round too
        // badly in the quick tests: an infinite reach leaves them to the
        // exact ones.
        const bool sliver = !(edgeSquared <= 1e4 * std::sqrt(area2Squared));
        r.reach = reach < 1e30 && !sliver ? static_cast<float>(reach) : std::numeric_limits<float>::infinity();
    }

    built_ = pointTree_.depth <= kBinaryDepthLimit && lineTree_.depth <= kBinaryDepthLimit &&
             triangleTree_.depth <= kBinaryDepthLimit;
}

// ------------------------------------------------------------------ queries

TouchHit TouchGeometry::intersect(const zvuLineSegmentd& segment, FaceMode faces, double eps,
                                  bool useHierarchy) const noexcept {
    const bool bounded = eps > kSmallestTolerance && eps <= kLargestTolerance && finite(segment.start()) &&
                         finite(segment.end()) && std::isfinite(segment.getLength());
    if (useHierarchy && built_ && bounded) return intersectHierarchy(segment, faces, eps);
    return intersectLinear(segment, faces, eps);
}

ClosestElements TouchGeometry::closest(const zvuVector3Dd& query, double eps, bool useHierarchy) const noexcept {
    const bool bounded = eps > kSmallestTolerance && eps <= kLargestTolerance && finite(query);
    if (useHierarchy && built_ && bounded) return closestHierarchy(query, eps);
    return closestLinear(query, eps);
}

TouchHit TouchGeometry::intersectLinear(const zvuLineSegmentd& segment, FaceMode faces, double eps) const noexcept {
    TouchHit best;
    double t = 0.0;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        if (pointHit(segment, points_[i], eps, t) && (best.kind == TouchHit::Kind::None || t < best.t)) {
            best.kind = TouchHit::Kind::Point;
            best.index = static_cast<int>(i);
            best.t = t;
            best.code = 0;
        }
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lineHit(segment, lines_[i], eps, t) && (best.kind == TouchHit::Kind::None || t < best.t)) {
            best.kind = TouchHit::Kind::Line;
            best.index = static_cast<int>(i);
            best.t = t;
            best.code = 0;
        }
    }
    if (faces != FaceMode::None) {
        for (std::size_t i = 0; i < triangles_.size(); ++i) {
            const int code = triangleHit(triangles_[i], segment, faces, eps, t);
            if (code != 0 && (best.kind == TouchHit::Kind::None || t < best.t)) {
                best.kind = TouchHit::Kind::Triangle;
                best.index = static_cast<int>(i);
                best.t = t;
                best.code = code;
            }
        }
    }
    if (best.kind != TouchHit::Kind::None) best.point = segment.pointAt(best.t);
    return best;
}

// Pruning with boxes is exact only if every element that can report a hit
// (or a distance) lies in its box grown by a known margin. Per kind:
//  - a point hit lies within eps of the segment, and so does a line hit's
//    nearest point of the line;
//  - a triangle hit is a crossing point of the triangle's plane accepted by
//    the containment test, whose parameters may overshoot by eps; the
//    accepted region is the triangle widened by 3 eps times its extent per
//    axis, and, when the test treats a first edge shorter than eps along its
//    first projection axis as zero, moved by up to eps on two axes. The
//    crossing may lie beyond the segment's ends: only when that end is
//    within eps of the plane and the direction more than eps away from
//    parallel, so by less than eps / eps = 1 along the line;
//  - the nearest point of a triangle is such an accepted projection or a
//    point on its edges.
// Rounding adds an allowance relative to the coordinates; triangles whose
// containment test rounds worse than that were set apart by the build and
// are tested by every query.
TouchHit TouchGeometry::intersectHierarchy(const zvuLineSegmentd& segment, FaceMode faces, double eps) const noexcept {
    const zvuVector3Dd start = segment.start();
    const zvuVector3Dd direction = segment.unitDirection();
    const double length = segment.getLength();
    const double scale =
        std::max({magnitude_, largestMagnitude(start), largestMagnitude(segment.end()), length, 1e-30});
    const double rounding = 1e-9 * scale;
    // The box tests run in float: their pads carry 1e-6 of the scale (some
    // eight float roundings of the largest coordinate) on top of the exact
    // margins, and the parameters they return are trusted to within 1e-5 of
    // the distances involved.
    const double floatAllowance = 1e-6 * scale;
    auto probeFor = [&](const double* pad, double sMin, double sMax) noexcept {
        LineProbe probe{};
        for (int a = 0; a < 3; ++a) {
            probe.start[a] = static_cast<float>(start[a]);
            // A zero-length segment only ever touches at its start.
            probe.still[a] = length == 0.0 || std::fabs(direction[a]) < 1e-30;
            probe.negative[a] = direction[a] < 0.0;
            probe.inverse[a] = probe.still[a] ? 0.0f : static_cast<float>(1.0 / direction[a]);
            // A still axis still drifts by up to 1e-30 per unit of s.
            probe.pad[a] = floatUp(pad[a] + floatAllowance + 1e-30 * (std::fabs(sMin) + std::fabs(sMax)));
        }
        probe.sMin = floatDown(sMin);
        probe.sMax = floatUp(sMax);
        return probe;
    };

    BestHit best;
    auto bestS = [&best, length]() noexcept { return best.found ? best.t * length : kInfinity; };
    double t = 0.0;

    const double nearPad = eps * (1.0 + 1e-9) + rounding;
    const double near[3] = {nearPad, nearPad, nearPad};
    double slack = rounding + 1e-5 * (scale + length);
    const LineProbe nearProbe =
        pointTree_.nodes.empty() && lineTree_.nodes.empty() ? LineProbe{} : probeFor(near, -slack, length + slack);
    traverseAlong(
        pointTree_, nearProbe, slack, bestS,
        [&](std::uint32_t k) noexcept {
            const std::uint32_t i = pointTree_.order[k];
            if (pointHit(segment, points_[i], eps, t)) best.offer(t, kPointKind, i, 0);
        },
        [](std::uint32_t, std::uint32_t) noexcept {});
    for (std::uint32_t i : pointTree_.always)
        if (pointHit(segment, points_[i], eps, t)) best.offer(t, kPointKind, i, 0);

    traverseAlong(
        lineTree_, nearProbe, slack, bestS,
        [&](std::uint32_t k) noexcept {
            const std::uint32_t i = lineTree_.order[k];
            if (lineHit(segment, lines_[i], eps, t)) best.offer(t, kLineKind, i, 0);
        },
        [](std::uint32_t, std::uint32_t) noexcept {});
    for (std::uint32_t i : lineTree_.always)
        if (lineHit(segment, lines_[i], eps, t)) best.offer(t, kLineKind, i, 0);

    // A zero-length segment never crosses a triangle.
    if (faces != FaceMode::None && length > 0.0) {
        double pad[3];
        for (int a = 0; a < 3; ++a) {
            const double extent = static_cast<double>(triangleTree_.hi[a]) - static_cast<double>(triangleTree_.lo[a]);
            pad[a] = (3.0 * eps + 1e-6) * extent + 4.0 * eps + rounding;
        }
        const double beyond = 1.0 + 1e-6 + 1e-12 * scale / eps + rounding;
        auto test = [&](std::uint32_t i) noexcept {
            const int code = triangleHit(triangles_[i], segment, faces, eps, t);
            if (code != 0) best.offer(t, kTriangleKind, i, code);
        };
        // The quick test rejects what the exact one surely would: a line
        // running parallel to the plane within eps, or crossing it outside
        // the triangle by more than the containment tolerance could accept.
        // Its barycentric margin covers eps, the shifted vertex of the
        // containment test's degenerate case and the rounding of both tests,
        // the spatial parts converted by the triangle's smallest height.
        const zvuVector3Dd s0 = start;
        const zvuVector3Dd dir = direction;
        auto quickTest = [&](std::uint32_t k) noexcept {
            const TriangleRecord& r = triangleRecords_[k];
            if (r.reach < 0.0f) return;  // zero normal: never crossed
            const zvuVector3Dd v0{r.v[0], r.v[1], r.v[2]};
            const zvuVector3Dd e1 = zvuVector3Dd{r.v[3], r.v[4], r.v[5]} - v0;
            const zvuVector3Dd e2 = zvuVector3Dd{r.v[6], r.v[7], r.v[8]} - v0;
            const zvuVector3Dd n = e1.cross(e2);
            const zvuVector3Dd p = dir.cross(e2);
            const double det = e1.dot(p);
            if (det * det < eps * eps * n.lengthSquared() * (1.0 - 1e-6)) return;
            const double inverse = 1.0 / det;
            const zvuVector3Dd sv = s0 - v0;
            const double u = sv.dot(p) * inverse;
            const zvuVector3Dd q = sv.cross(e1);
            const double v = dir.dot(q) * inverse;
            const double margin = 2.0 * eps + 8.0 * (eps + rounding) * static_cast<double>(r.reach) + 1e-9;
            if (u < -margin || v < -margin || u + v > 1.0 + margin) return;
            test(triangleTree_.order[k]);
        };
        slack = rounding + 1e-5 * (scale + length + beyond);
        auto fetch = [this](std::uint32_t first, std::uint32_t count) noexcept {
            const char* records = reinterpret_cast<const char*>(&triangleRecords_[first]);
            for (std::uint32_t b = 0; b < count * sizeof(TriangleRecord); b += 64) __builtin_prefetch(records + b);
        };
        traverseAlong(triangleTree_, probeFor(pad, -beyond, length + beyond), slack, bestS, quickTest, fetch);
        for (std::uint32_t i : triangleTree_.always) test(i);
    }

    TouchHit hit;
    if (best.found) {
        hit.kind = best.kind == kPointKind  ? TouchHit::Kind::Point
                   : best.kind == kLineKind ? TouchHit::Kind::Line
                                            : TouchHit::Kind::Triangle;
        hit.index = static_cast<int>(best.index);
        hit.t = best.t;
        hit.code = best.code;
        hit.point = segment.pointAt(best.t);
    }
    return hit;
}

ClosestElements TouchGeometry::closestLinear(const zvuVector3Dd& query, double eps) const noexcept {
    ClosestElements result;
    zvuVector3Dd p{};
    for (std::size_t i = 0; i < triangles_.size(); ++i) {
        const double d = triangleDistance(triangles_[i], query, eps, p);
        if (d < result.triangleDistanceSquared) {
            result.triangle = static_cast<int>(i);
            result.trianglePoint = p;
            result.triangleDistanceSquared = d;
        }
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const double d = lineDistance(lines_[i], query, p);
        if (d < result.lineDistanceSquared) {
            result.line = static_cast<int>(i);
            result.linePoint = p;
            result.lineDistanceSquared = d;
        }
    }
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const double d = pointDistance(points_[i], query);
        if (d < result.pointDistanceSquared) {
            result.point = static_cast<int>(i);
            result.pointDistanceSquared = d;
        }
    }
    return result;
}

ClosestElements TouchGeometry::closestHierarchy(const zvuVector3Dd& query, double eps) const noexcept {
    const double scale = std::max({magnitude_, largestMagnitude(query), 1e-30});
    const double rounding = 1e-9 * scale;
    const double near[3] = {rounding, rounding, rounding};
    // Float box tests, as in intersectHierarchy.
    const double floatAllowance = 1e-6 * scale;
    auto probeFor = [&](const double* pad) noexcept {
        PointProbe probe{};
        for (int a = 0; a < 3; ++a) {
            probe.query[a] = static_cast<float>(query[a]);
            probe.pad[a] = floatUp(pad[a] + floatAllowance);
        }
        return probe;
    };
    ClosestElements result;
    zvuVector3Dd p{};

    BestDistance triangles;
    double pad[3];
    for (int a = 0; a < 3; ++a) {
        const double extent = static_cast<double>(triangleTree_.hi[a]) - static_cast<double>(triangleTree_.lo[a]);
        pad[a] = (3.0 * eps + 1e-6) * extent + 4.0 * eps + rounding;
    }
    auto testTriangle = [&](std::uint32_t i) noexcept {
        const double d = triangleDistance(triangles_[i], query, eps, p);
        triangles.offer(d, i, p);
    };
    for (std::uint32_t i : triangleTree_.always) testTriangle(i);
    // The quick test skips a triangle whose true distance, less what the
    // containment tolerance can take off it (a projection accepted outside
    // the triangle lies within `widening` of it), is still beyond the best.
    const double widening = std::sqrt(pad[0] * pad[0] + pad[1] * pad[1] + pad[2] * pad[2]) + rounding;
    auto quickTriangle = [&](std::uint32_t k) noexcept {
        const TriangleRecord& r = triangleRecords_[k];
        if (triangles.found && r.reach >= 0.0f && r.reach <= 1e6f) {
            const zvuVector3Dd a{r.v[0], r.v[1], r.v[2]};
            const zvuVector3Dd b{r.v[3], r.v[4], r.v[5]};
            const zvuVector3Dd c{r.v[6], r.v[7], r.v[8]};
            const double distance = std::sqrt(pointTriangleDistanceSquared(query, a, b, c));
            const double bound = distance * (1.0 - 1e-7) - widening;
            if (bound > 0.0 && bound * bound > triangles.distance) return;
        }
        testTriangle(triangleTree_.order[k]);
    };
    traverseNear(triangleTree_, probeFor(pad), triangles, quickTriangle);
    if (triangles.found) {
        result.triangle = static_cast<int>(triangles.index);
        result.trianglePoint = triangles.point;
        result.triangleDistanceSquared = triangles.distance;
    }

    BestDistance lines;
    auto testLine = [&](std::uint32_t i) noexcept { lines.offer(lineDistance(lines_[i], query, p), i, p); };
    for (std::uint32_t i : lineTree_.always) testLine(i);
    const PointProbe nearProbe = probeFor(near);
    traverseNear(lineTree_, nearProbe, lines, [&](std::uint32_t k) noexcept { testLine(lineTree_.order[k]); });
    if (lines.found) {
        result.line = static_cast<int>(lines.index);
        result.linePoint = lines.point;
        result.lineDistanceSquared = lines.distance;
    }

    BestDistance points;
    auto testPoint = [&](std::uint32_t i) noexcept { points.offer(pointDistance(points_[i], query), i, {}); };
    for (std::uint32_t i : pointTree_.always) testPoint(i);
    traverseNear(pointTree_, nearProbe, points, [&](std::uint32_t k) noexcept { testPoint(pointTree_.order[k]); });
    if (points.found) {
        result.point = static_cast<int>(points.index);
        result.pointDistanceSquared = points.distance;
    }
    return result;
}

}  // namespace QM
