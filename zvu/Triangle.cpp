#include "zvu/Triangle.h"

#include <cmath>

namespace zvu {

template <typename Storage>
TriangleBase<Storage>::TriangleBase(const Storage& storage, int edgeOrderNormal_) noexcept
    : Storage(storage), edgeOrderNormal(edgeOrderNormal_) {
    TriangleBase::updatePlane();
}

template <typename Storage>
double TriangleBase<Storage>::updatePlane() noexcept {
    const Vector p0 = v0();
    const Vector e1 = v1() - p0;
    const Vector e2 = v2() - p0;
    normal = (edgeOrderNormal != 0 ? e1.cross(e2) : e2.cross(e1)).normalized();
    d = -normal.dot(p0);
    return d;
}

template <typename Storage>
int TriangleBase<Storage>::intersectSegmentFront(const zvuLineSegment<double>& segment, double& t,
                                                 double eps) const noexcept {
    const int code = zvuPlane<double>::intersectSegmentFront(segment, t, eps);
    return code != 0 && contains(segment.pointAt(t), eps) ? code : 0;
}

template <typename Storage>
int TriangleBase<Storage>::intersectSegmentBack(const zvuLineSegment<double>& segment, double& t,
                                                double eps) const noexcept {
    const int code = zvuPlane<double>::intersectSegmentBack(segment, t, eps);
    return code != 0 && contains(segment.pointAt(t), eps) ? code : 0;
}

template <typename Storage>
int TriangleBase<Storage>::intersectSegment(const zvuLineSegment<double>& segment, double& t,
                                            double eps) const noexcept {
    const int code = zvuPlane<double>::intersectSegment(segment, t, eps);
    return code != 0 && contains(segment.pointAt(t), eps) ? code : 0;
}

// Solves p - v0 = alpha (v1 - v0) + beta (v2 - v0) in the two coordinates (u, v)
// left after dropping the axis along which the normal is largest (the
// projection onto that coordinate plane is the least foreshortened one).
// Normally beta comes from the 2D cross products (Cramer's rule) and alpha
// from the u equation. When the first edge has no extent in u (within eps),
// the u equation gives beta directly and alpha comes from the v equation
// instead. The result says whether beta is within [-eps, 1 + eps]; when it is
// not, contains() decides on beta alone and ignores alpha.
template <typename Storage>
bool TriangleBase<Storage>::solveParameters(const Vector& point, double eps, double& alpha,
                                            double& beta) const noexcept {
    const double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    int u = 1, v = 2;
    if (!(ax >= ay && ax >= az)) {
        if (ay >= az) {
            u = 0;
            v = 2;
        } else {
            u = 0;
            v = 1;
        }
    }
    const Vector p0 = v0(), p1 = v1(), p2 = v2();
    const double e1u = p1[u] - p0[u], e1v = p1[v] - p0[v];
    const double e2u = p2[u] - p0[u], e2v = p2[v] - p0[v];
    const double pu = point[u] - p0[u], pv = point[v] - p0[v];

    const bool degenerateInU = std::fabs(e1u) <= eps;
    if (degenerateInU)
        beta = pu / e2u;
    else
        beta = (pv * e1u - e1v * pu) / (e2v * e1u - e1v * e2u);
    const bool betaInRange = beta >= -eps && beta <= 1.0 + eps;
    if (degenerateInU)
        alpha = (pv - beta * e2v) / e1v;
    else
        alpha = (pu - beta * e2u) / e1u;
    return betaInRange;
}

template <typename Storage>
bool TriangleBase<Storage>::contains(const Vector& point, double eps) const noexcept {
    double alpha = 0.0, beta = 0.0;
    if (!solveParameters(point, eps, alpha, beta)) alpha = 0.0;
    return alpha >= -eps && beta >= -eps && alpha + beta <= 1.0 + eps;
}

template <typename Storage>
auto TriangleBase<Storage>::parametersOf(const Vector& point, double eps) const noexcept -> Vector {
    double alpha = 0.0, beta = 0.0;
    solveParameters(point, eps, alpha, beta);
    return {alpha, beta, 0.0};
}

template <typename Storage>
auto TriangleBase<Storage>::closestPoint(const Vector& point, double eps) const noexcept -> Vector {
    const Vector projection = project(point);
    if (contains(projection, eps)) return projection;
    const Vector corners[3] = {v0(), v1(), v2()};
    Vector best{};
    double bestDistance = 0.0;
    for (int i = 0; i < 3; ++i) {
        const zvuLineSegment<double> edge(corners[i], corners[(i + 1) % 3]);
        const Vector candidate = edge.pointAt(edge.closestParameter(projection));
        const double distance = (candidate - projection).lengthSquared();
        if (i == 0 || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

template <typename Storage>
auto TriangleBase<Storage>::barycentric(const Vector& point) const noexcept -> Vector {
    const Vector p = project(point);
    const Vector p0 = v0(), p1 = v1(), p2 = v2();
    const double a0 = 0.5 * (p1 - p).cross(p2 - p).length();
    const double a1 = 0.5 * (p0 - p).cross(p2 - p).length();
    const double a2 = 0.5 * (p0 - p).cross(p1 - p).length();
    const double sum = a0 + a1 + a2;
    if (sum == 0.0) return {1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0};
    return {a0 / sum, a1 / sum, a2 / sum};
}

template <typename Storage>
auto TriangleBase<Storage>::pointAtParameters(double s, double t) const noexcept -> Vector {
    const Vector p0 = v0();
    return p0 + (v1() - p0) * s + (v2() - p0) * t;
}

template class TriangleBase<DepthTriangleStorage>;
template class TriangleBase<PrimitiveTriangleStorage>;
template class TriangleBase<FeedbackTriangleStorage>;

}  // namespace zvu
