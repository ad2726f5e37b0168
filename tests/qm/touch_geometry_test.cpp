// The touch geometry's queries: the linear scan's semantics on small
// fixtures, and the hierarchy giving exactly the scan's answers on many
// random queries over meshes built to provoke ties, grazing contacts and
// degenerate cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qm/shapes/TouchGeometry.h"

namespace {

using QM::ClosestElements;
using QM::FaceMode;
using QM::TouchGeometry;
using QM::TouchHit;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;
using zvu::zvuVector3Df;

constexpr double kEps = 1.1920928955078125e-6;
constexpr FaceMode kAllFaceModes[] = {FaceMode::Front, FaceMode::Back, FaceMode::FrontAndBack, FaceMode::None};

zvu::PrimitiveTriangle makeTriangle(const zvuVector3Df& a, const zvuVector3Df& b, const zvuVector3Df& c,
                                    int edgeOrderNormal = 1) {
    return zvu::PrimitiveTriangle({a, b, c}, edgeOrderNormal);
}

zvuVector3Df f(double x, double y, double z) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

zvuVector3Dd d(const zvuVector3Df& v) { return zvu::toDouble(v); }

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool samePoint(const zvuVector3Dd& a, const zvuVector3Dd& b) {
    return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z);
}

// ------------------------------------------------------------------ semantics

TEST(TouchGeometrySemantics, SegmentThroughPointVertexHitsIt) {
    TouchGeometry g;
    g.addPoint(f(0, 0, 0));
    g.addPoint(f(5, 0, 0));
    g.build();
    const zvuLineSegmentd segment({0, 0, 1}, {0, 0, -1});
    for (bool hierarchy : {false, true}) {
        const TouchHit hit = g.intersect(segment, FaceMode::FrontAndBack, kEps, hierarchy);
        EXPECT_EQ(hit.kind, TouchHit::Kind::Point);
        EXPECT_EQ(hit.index, 0);
        EXPECT_DOUBLE_EQ(hit.t, 0.5);
        EXPECT_EQ(hit.code, 0);
        EXPECT_NEAR(hit.point.z, 0.0, 1e-12);
    }
    // Just beyond eps sideways: no hit.
    const zvuLineSegmentd aside({0, 2 * kEps, 1}, {0, 2 * kEps, -1});
    EXPECT_EQ(g.intersect(aside, FaceMode::FrontAndBack, kEps, true).kind, TouchHit::Kind::None);
}

// One table: each case a small geometry, a segment and face mode, and the
// expected winner.
TEST(TouchGeometrySemantics, WinnerAmongKindsAndTies) {
    struct Case {
        const char* name;
        std::vector<zvuVector3Df> points;
        std::vector<std::pair<zvuVector3Df, zvuVector3Df>> lines;
        std::vector<zvu::PrimitiveTriangle> triangles;
        FaceMode faces;
        TouchHit::Kind kind;
        int index;
        int code;
        double t;
    };
    // A unit triangle in z = 0 whose front faces +z, and one in z = -0.5.
    const auto upper = makeTriangle(f(-1, -1, 0), f(2, -1, 0), f(-1, 2, 0));
    const auto lower = makeTriangle(f(-1, -1, -0.5), f(2, -1, -0.5), f(-1, 2, -0.5));
    const auto upperBackwards = makeTriangle(f(-1, -1, 0), f(2, -1, 0), f(-1, 2, 0), 0);
    const std::vector<Case> cases = {
        {"duplicate triangles: lower index",
         {},
         {},
         {lower, upper, upper},
         FaceMode::Front,
         TouchHit::Kind::Triangle,
         1,
         1,
         0.5},
        {"duplicate points: lower index",
         {f(0, 0, 0), f(0, 0, 0)},
         {},
         {},
         FaceMode::Front,
         TouchHit::Kind::Point,
         0,
         0,
         0.5},
        {"point and triangle at equal t: point first",
         {f(0, 0, 0)},
         {},
         {upper},
         FaceMode::Front,
         TouchHit::Kind::Point,
         0,
         0,
         0.5},
        {"line and triangle at equal t: line first",
         {},
         {{f(-1, 0, 0), f(1, 0, 0)}},
         {upper},
         FaceMode::Front,
         TouchHit::Kind::Line,
         0,
         0,
         0.5},
        {"point and line at equal t: point first",
         {f(0, 0, 0)},
         {{f(-1, 0, 0), f(1, 0, 0)}},
         {},
         FaceMode::Front,
         TouchHit::Kind::Point,
         0,
         0,
         0.5},
        {"triangle strictly nearer than point",
         {f(0, 0, -0.5)},
         {},
         {upper},
         FaceMode::Front,
         TouchHit::Kind::Triangle,
         0,
         1,
         0.5},
        {"line strictly nearer than triangle",
         {},
         {{f(-1, 0, 0), f(1, 0, 0)}},
         {lower},
         FaceMode::Front,
         TouchHit::Kind::Line,
         0,
         0,
         0.5},
        {"back faces only skip the front crossing", {}, {}, {upper}, FaceMode::Back, TouchHit::Kind::None, -1, 0, 0.0},
        {"clockwise triangle crossed from its back",
         {},
         {},
         {upperBackwards},
         FaceMode::Back,
         TouchHit::Kind::Triangle,
         0,
         2,
         0.5},
        {"both faces: code of the side entered",
         {},
         {},
         {upperBackwards, upper},
         FaceMode::FrontAndBack,
         TouchHit::Kind::Triangle,
         0,
         2,
         0.5},
        {"no faces: triangles ignored, point still hit",
         {f(0, 0, -0.5)},
         {},
         {upper},
         FaceMode::None,
         TouchHit::Kind::Point,
         0,
         0,
         0.75},
    };
    const zvuLineSegmentd down({0, 0, 1}, {0, 0, -1});
    for (const Case& c : cases) {
        TouchGeometry g;
        for (const auto& p : c.points) g.addPoint(p);
        for (const auto& l : c.lines) g.addLine(l.first, l.second);
        for (const auto& t : c.triangles) g.addTriangle(t);
        g.build();
        for (bool hierarchy : {false, true}) {
            const TouchHit hit = g.intersect(down, c.faces, kEps, hierarchy);
            EXPECT_EQ(hit.kind, c.kind) << c.name << (hierarchy ? " (hierarchy)" : "");
            EXPECT_EQ(hit.index, c.index) << c.name;
            EXPECT_EQ(hit.code, c.code) << c.name;
            if (c.kind != TouchHit::Kind::None) {
                EXPECT_NEAR(hit.t, c.t, 1e-12) << c.name;
            }
        }
    }
}

TEST(TouchGeometrySemantics, ClosestPerKindFirstMinimum) {
    TouchGeometry g;
    g.addPoint(f(3, 0, 0));
    g.addPoint(f(0, 0, 2));  // distance 1 from the query
    g.addPoint(f(0, 0, 0));  // also 1: the earlier one stays
    g.addLine(f(-1, 5, 0), f(1, 5, 0));
    g.addLine(f(2, 0, 0), f(4, 0, 0));  // clamped to its start: (2, 0, 0)
    g.addTriangle(makeTriangle(f(-1, -1, 0), f(1, -1, 0), f(-1, 1, 0)));
    g.addTriangle(makeTriangle(f(-1, -1, 0), f(1, -1, 0), f(-1, 1, 0)));
    g.build();
    for (bool hierarchy : {false, true}) {
        const ClosestElements c = g.closest({0, 0, 1}, kEps, hierarchy);
        EXPECT_EQ(c.point, 1);
        EXPECT_DOUBLE_EQ(c.pointDistanceSquared, 1.0);
        EXPECT_EQ(c.line, 1);
        EXPECT_DOUBLE_EQ(c.lineDistanceSquared, 5.0);
        EXPECT_NEAR(c.linePoint.x, 2.0, 1e-12);
        EXPECT_EQ(c.triangle, 0);
        EXPECT_NEAR(c.triangleDistanceSquared, 1.0, 1e-12);
    }
    const ClosestElements empty = TouchGeometry().closest({0, 0, 0}, kEps, true);
    EXPECT_EQ(empty.triangle, -1);
    EXPECT_EQ(empty.line, -1);
    EXPECT_EQ(empty.point, -1);
}

// A zero-length segment: points are hit at its position (t = 0), lines too
// (at t as the segment test reports it), triangles never.
TEST(TouchGeometrySemantics, ZeroLengthSegment) {
    TouchGeometry g;
    g.addTriangle(makeTriangle(f(-1, -1, 0), f(1, -1, 0), f(-1, 1, 0)));
    g.addPoint(f(0, 0, 0));
    g.build();
    const zvuLineSegmentd still({0, 0, 0}, {0, 0, 0});
    for (bool hierarchy : {false, true}) {
        const TouchHit hit = g.intersect(still, FaceMode::FrontAndBack, kEps, hierarchy);
        EXPECT_EQ(hit.kind, TouchHit::Kind::Point);
        EXPECT_EQ(hit.t, 0.0);
    }
}

// ------------------------------------------------------------------ hierarchy = scan

struct Mesh {
    std::string name;
    TouchGeometry geometry;
};

std::vector<zvuVector3Df> sphereVertices(int slices, int stacks, double r, const zvuVector3Dd& centre,
                                         const zvuVector3Dd& stretch) {
    std::vector<zvuVector3Df> v;
    for (int i = 0; i <= stacks; ++i) {
        const double phi = M_PI * i / stacks;
        for (int j = 0; j <= slices; ++j) {
            const double theta = 2 * M_PI * j / slices;
            v.push_back(f(centre.x + stretch.x * r * std::sin(phi) * std::cos(theta),
                          centre.y + stretch.y * r * std::sin(phi) * std::sin(theta),
                          centre.z + stretch.z * r * std::cos(phi)));
        }
    }
    return v;
}

// A latitude-longitude sphere triangulated like a fan of quads; its poles
// give degenerate triangles, as a captured sphere does.
void addSphere(TouchGeometry& g, int slices, int stacks, double r, const zvuVector3Dd& centre,
               const zvuVector3Dd& stretch, int edgeOrderNormal) {
    const auto v = sphereVertices(slices, stacks, r, centre, stretch);
    const int row = slices + 1;
    for (int i = 0; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            const auto& a = v[i * row + j];
            const auto& b = v[(i + 1) * row + j];
            const auto& c = v[(i + 1) * row + j + 1];
            const auto& e = v[i * row + j + 1];
            g.addTriangle(makeTriangle(a, b, c, edgeOrderNormal));
            g.addTriangle(makeTriangle(a, c, e, edgeOrderNormal));
        }
    }
}

std::vector<Mesh> makeMeshes() {
    std::vector<Mesh> meshes;
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);

    {
        Mesh m{"random soup", {}};
        for (int i = 0; i < 1500; ++i) {
            const zvuVector3Dd c{unit(rng) * 10, unit(rng) * 10, unit(rng) * 10};
            const double s = std::fabs(unit(rng)) * 2 + 0.01;
            m.geometry.addTriangle(makeTriangle(f(c.x + s * unit(rng), c.y + s * unit(rng), c.z + s * unit(rng)),
                                                f(c.x + s * unit(rng), c.y + s * unit(rng), c.z + s * unit(rng)),
                                                f(c.x + s * unit(rng), c.y + s * unit(rng), c.z + s * unit(rng)),
                                                i % 2));
        }
        // Slivers: thin enough to be left to the exact tests.
        for (int i = 0; i < 40; ++i) {
            const zvuVector3Dd c{unit(rng) * 10, unit(rng) * 10, unit(rng) * 10};
            const zvuVector3Dd along = zvuVector3Dd{unit(rng), unit(rng), unit(rng)}.normalized() * 2.0;
            const zvuVector3Dd across = zvuVector3Dd{unit(rng), unit(rng), unit(rng)}.normalized() * 1e-5;
            m.geometry.addTriangle(makeTriangle(
                f(c.x, c.y, c.z), f(c.x + along.x, c.y + along.y, c.z + along.z),
                f(c.x + along.x * 0.5 + across.x, c.y + along.y * 0.5 + across.y, c.z + along.z * 0.5 + across.z)));
        }
        meshes.push_back(std::move(m));
    }
    {
        Mesh m{"sphere", {}};
        addSphere(m.geometry, 32, 24, 3.0, {0.5, -0.25, 0.125}, {1, 1, 1}, 1);
        meshes.push_back(std::move(m));
    }
    {
        // Small enough that eps is large against the coordinates' rounding.
        Mesh m{"small sphere", {}};
        addSphere(m.geometry, 24, 16, 0.05, {0.01, 0.02, -0.03}, {1, 1, 1}, 1);
        for (int i = 0; i < 150; ++i) {
            const zvuVector3Df p = f(unit(rng) * 0.06, unit(rng) * 0.06, unit(rng) * 0.06);
            m.geometry.addPoint(p);
            m.geometry.addLine(p, f(p.x + 0.01 * unit(rng), p.y + 0.01 * unit(rng), p.z + 0.01 * unit(rng)));
        }
        meshes.push_back(std::move(m));
    }
    {
        // Window coordinates: pixels across, depth in [0, 1].
        Mesh m{"sphere in window coordinates", {}};
        addSphere(m.geometry, 48, 32, 200.0, {512, 384, 0.5}, {1, 1, 0.4 / 200.0}, 0);
        meshes.push_back(std::move(m));
    }
    {
        // Axis-aligned grid cells sharing edges and vertices, plus an exact
        // duplicate of part of it and a coplanar overlapping copy shifted by
        // half a cell.
        Mesh m{"grid with duplicates", {}};
        const int n = 16;
        for (int copy = 0; copy < 3; ++copy) {
            const double shift = copy == 2 ? 0.5 : 0.0;
            const int rows = copy == 1 ? n / 2 : n;
            for (int i = 0; i < rows; ++i) {
                for (int j = 0; j < n; ++j) {
                    const double x = j + shift, y = i + shift;
                    m.geometry.addTriangle(makeTriangle(f(x, y, 0), f(x + 1, y, 0), f(x + 1, y + 1, 0)));
                    m.geometry.addTriangle(makeTriangle(f(x, y, 0), f(x + 1, y + 1, 0), f(x, y + 1, 0)));
                }
            }
        }
        // Degenerate triangles: collapsed, collinear.
        m.geometry.addTriangle(makeTriangle(f(3, 3, 0), f(3, 3, 0), f(4, 4, 0)));
        m.geometry.addTriangle(makeTriangle(f(2, 2, 0), f(3, 3, 0), f(4, 4, 0)));
        meshes.push_back(std::move(m));
    }
    {
        // Points and lines among triangles, some of them on the triangles.
        Mesh m{"points, lines and triangles", {}};
        addSphere(m.geometry, 16, 12, 2.0, {0, 0, 0}, {1, 1, 1}, 1);
        for (int i = 0; i < 400; ++i) {
            const zvuVector3Df p = f(unit(rng) * 3, unit(rng) * 3, unit(rng) * 3);
            m.geometry.addPoint(p);
            if (i % 7 == 0) m.geometry.addPoint(p);  // exact duplicates
            m.geometry.addLine(p, f(p.x + unit(rng), p.y + unit(rng), p.z + unit(rng)));
        }
        for (std::size_t i = 0; i < m.geometry.triangleCount(); i += 9) {
            const auto& t = m.geometry.triangle(i);
            m.geometry.addPoint(t.vertices[0]);
            m.geometry.addLine(t.vertices[1], t.vertices[2]);
        }
        m.geometry.addLine(f(0, 0, 5), f(0, 0, 5));  // a line of length zero
        meshes.push_back(std::move(m));
    }
    for (Mesh& m : meshes) m.geometry.build();
    return meshes;
}

// Vertices, edge points and interior points of the mesh's elements, to aim
// queries at.
std::vector<zvuVector3Dd> targets(const TouchGeometry& g, std::mt19937& rng) {
    std::uniform_real_distribution<double> w(0.0, 1.0);
    std::vector<zvuVector3Dd> out;
    for (std::size_t i = 0; i < g.triangleCount(); i += 3) {
        const auto& t = g.triangle(i);
        const zvuVector3Dd a = d(t.vertices[0]), b = d(t.vertices[1]), c = d(t.vertices[2]);
        out.push_back(a);
        out.push_back((a + b) * 0.5);
        double u = w(rng), v = w(rng);
        if (u + v > 1) {
            u = 1 - u;
            v = 1 - v;
        }
        out.push_back(a + (b - a) * u + (c - a) * v);
    }
    for (std::size_t i = 0; i < g.pointCount(); ++i) out.push_back(d(g.point(i)));
    for (std::size_t i = 0; i < g.lineCount(); ++i)
        out.push_back(d(g.line(i).a) + (d(g.line(i).b) - d(g.line(i).a)) * w(rng));
    return out;
}

// Segments of every sort aimed at the targets: through them from either
// side, starting or ending exactly on them, offset by about eps, running
// along the surface, degenerate, short and long, and random ones.
std::vector<zvuLineSegmentd> makeSegments(const TouchGeometry& g, const std::vector<zvuVector3Dd>& aims,
                                          std::mt19937& rng, int count, double size) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, aims.size() - 1);
    auto randomDirection = [&] {
        zvuVector3Dd v{unit(rng), unit(rng), unit(rng)};
        return v.normalized();
    };
    std::vector<zvuLineSegmentd> out;
    for (int i = 0; i < count; ++i) {
        const zvuVector3Dd aim = aims[pick(rng)];
        const zvuVector3Dd dir = randomDirection();
        const double len = size * std::pow(10.0, unit(rng) * 1.5);
        switch (i % 10) {
        case 0:  // through the target
            out.emplace_back(aim - dir * len, aim + dir * len);
            break;
        case 1:  // ending exactly on it
            out.emplace_back(aim - dir * len, aim);
            break;
        case 2:  // starting exactly on it
            out.emplace_back(aim, aim + dir * len);
            break;
        case 3: {  // passing beside it by about eps
            const zvuVector3Dd side = dir.cross(randomDirection()).normalized();
            const double offset = kEps * (0.5 + std::fabs(unit(rng)));
            out.emplace_back(aim - dir * len + side * offset, aim + dir * len + side * offset);
            break;
        }
        case 4: {  // along the surface of a triangle through the target
            if (g.triangleCount() == 0) {
                out.emplace_back(aim, aim + dir * len);
                break;
            }
            const auto& t = g.triangle(pick(rng) % g.triangleCount());
            const zvuVector3Dd a = d(t.vertices[0]), b = d(t.vertices[1]);
            out.emplace_back(a - (b - a) * 0.5, b + (b - a) * 0.5);
            break;
        }
        case 5:  // zero length, on or near the target
            out.emplace_back(aim + dir * (kEps * 0.5 * (i % 3)), aim + dir * (kEps * 0.5 * (i % 3)));
            break;
        case 6:  // very short, ending within eps of the target
            out.emplace_back(aim - dir * (kEps * 3), aim - dir * (kEps * 0.5));
            break;
        case 7:  // between two targets (vertex to vertex, edge to edge)
            out.emplace_back(aim, aims[pick(rng)]);
            break;
        default: {  // anywhere
            const zvuVector3Dd p{unit(rng) * size * 4, unit(rng) * size * 4, unit(rng) * size * 4};
            out.emplace_back(aim + p, aim + p + dir * len);
            break;
        }
        }
    }
    return out;
}

std::string describe(const TouchHit& h) {
    char text[160];
    std::snprintf(text, sizeof text, "kind %d index %d t %.17g code %d", static_cast<int>(h.kind), h.index, h.t,
                  h.code);
    return text;
}

TEST(TouchGeometryHierarchy, IntersectMatchesLinearScan) {
    std::vector<Mesh> meshes = makeMeshes();
    std::mt19937 rng(99);
    for (const Mesh& m : meshes) {
        ASSERT_TRUE(m.geometry.built()) << m.name;
        const auto aims = targets(m.geometry, rng);
        const double size = m.name == "sphere in window coordinates" ? 20.0 : m.name == "small sphere" ? 0.02 : 1.0;
        const auto segments = makeSegments(m.geometry, aims, rng, 1500, size);
        int hits = 0;
        int misses = 0;
        int mismatches = 0;
        for (FaceMode faces : kAllFaceModes) {
            for (const auto& s : segments) {
                const TouchHit linear = m.geometry.intersect(s, faces, kEps, false);
                const TouchHit tree = m.geometry.intersect(s, faces, kEps, true);
                const bool same = linear.kind == tree.kind && linear.index == tree.index &&
                                  sameBits(linear.t, tree.t) && linear.code == tree.code &&
                                  samePoint(linear.point, tree.point);
                if (!same && ++mismatches <= 5)
                    ADD_FAILURE() << m.name << ", faces " << static_cast<int>(faces) << ": linear " << describe(linear)
                                  << ", hierarchy " << describe(tree);
                (linear.kind != TouchHit::Kind::None ? hits : misses) += 1;
            }
        }
        EXPECT_EQ(mismatches, 0) << m.name;
        // The queries must actually exercise hits, and misses too.
        EXPECT_GT(hits, static_cast<int>(segments.size()) / 2) << m.name;
        EXPECT_GT(misses, static_cast<int>(segments.size()) / 2) << m.name;
    }
}

TEST(TouchGeometryHierarchy, ClosestMatchesLinearScan) {
    std::vector<Mesh> meshes = makeMeshes();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const Mesh& m : meshes) {
        const auto aims = targets(m.geometry, rng);
        const double size = m.name == "sphere in window coordinates" ? 20.0 : m.name == "small sphere" ? 0.02 : 1.0;
        std::uniform_int_distribution<std::size_t> pick(0, aims.size() - 1);
        int mismatches = 0;
        for (int i = 0; i < 1500; ++i) {
            zvuVector3Dd q = aims[pick(rng)];
            switch (i % 4) {
            case 0:  // exactly on an element
                break;
            case 1:  // within a few eps
                q += zvuVector3Dd{unit(rng), unit(rng), unit(rng)} * (3 * kEps);
                break;
            case 2:  // near
                q += zvuVector3Dd{unit(rng), unit(rng), unit(rng)} * (0.3 * size);
                break;
            default:  // anywhere, far away included
                q += zvuVector3Dd{unit(rng), unit(rng), unit(rng)} * (30 * size);
                break;
            }
            const ClosestElements a = m.geometry.closest(q, kEps, false);
            const ClosestElements b = m.geometry.closest(q, kEps, true);
            const bool same =
                a.triangle == b.triangle && sameBits(a.triangleDistanceSquared, b.triangleDistanceSquared) &&
                samePoint(a.trianglePoint, b.trianglePoint) && a.line == b.line &&
                sameBits(a.lineDistanceSquared, b.lineDistanceSquared) && samePoint(a.linePoint, b.linePoint) &&
                a.point == b.point && sameBits(a.pointDistanceSquared, b.pointDistanceSquared);
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << m.name << " query " << i << ": triangle " << a.triangle << "/" << b.triangle
                              << " line " << a.line << "/" << b.line << " point " << a.point << "/" << b.point;
        }
        EXPECT_EQ(mismatches, 0) << m.name;
    }
}

// Inputs the boxes cannot bound fall back to the scan and still agree.
TEST(TouchGeometryHierarchy, UnboundedInputsAgree) {
    TouchGeometry g;
    addSphere(g, 8, 6, 1.0, {0, 0, 0}, {1, 1, 1}, 1);
    g.addPoint(f(NAN, 0, 0));
    g.addPoint(f(0, 0, 1));
    g.build();
    const double nan = std::nan("");
    const zvuLineSegmentd segments[] = {
        zvuLineSegmentd({0, 0, 2}, {0, 0, 0}),
        zvuLineSegmentd({nan, 0, 2}, {0, 0, 0}),
        zvuLineSegmentd({0, 0, INFINITY}, {0, 0, 0}),
    };
    for (double eps : {kEps, 0.0, -1.0, 0.5, nan}) {
        for (const auto& s : segments) {
            const TouchHit a = g.intersect(s, FaceMode::FrontAndBack, eps, false);
            const TouchHit b = g.intersect(s, FaceMode::FrontAndBack, eps, true);
            EXPECT_EQ(a.kind, b.kind);
            EXPECT_EQ(a.index, b.index);
        }
        const ClosestElements a = g.closest({0, 0, 3}, eps, false);
        const ClosestElements b = g.closest({0, 0, 3}, eps, true);
        EXPECT_EQ(a.triangle, b.triangle);
        EXPECT_EQ(a.point, b.point);
    }
}

// Queries only read: readers on several threads (the collision thread and
// others) get the answers a single reader gets. Run under ThreadSanitizer,
// this also shows that no query writes shared state.
TEST(TouchGeometryHierarchy, ConcurrentReadersAgree) {
    TouchGeometry g;
    addSphere(g, 24, 16, 1.0, {0, 0, 0}, {1, 1, 1}, 1);
    g.addPoint(f(0, 0, 1.5));
    g.addLine(f(-2, 0, 0), f(2, 0, 0));
    g.build();
    std::mt19937 rng(5);
    const auto segments = makeSegments(g, targets(g, rng), rng, 400, 1.0);
    std::vector<TouchHit> expected;
    for (const auto& s : segments) expected.push_back(g.intersect(s, FaceMode::FrontAndBack, kEps, true));

    std::vector<int> wrong(3, 0);
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            for (int round = 0; round < 3; ++round) {
                for (std::size_t i = 0; i < segments.size(); ++i) {
                    const TouchHit hit = g.intersect(segments[i], FaceMode::FrontAndBack, kEps, true);
                    const ClosestElements c = g.closest(segments[i].start(), kEps, true);
                    wrong[static_cast<std::size_t>(r)] +=
                        hit.index != expected[i].index || !sameBits(hit.t, expected[i].t) || c.triangle < 0;
                }
            }
        });
    }
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong, std::vector<int>(3, 0));
}

TEST(TouchGeometryHierarchy, AddingAfterBuildDropsTheHierarchy) {
    TouchGeometry g;
    g.addPoint(f(0, 0, 0));
    g.build();
    EXPECT_TRUE(g.built());
    g.addPoint(f(0, 0, 0.5));
    EXPECT_FALSE(g.built());
    // Still answered (by the scan), with the new point.
    const TouchHit hit = g.intersect(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), FaceMode::Front, kEps, true);
    EXPECT_EQ(hit.index, 1);
    EXPECT_GT(g.memoryBytes(), 0u);
}

}  // namespace
