#include "zvu/Matrix.h"

#include <cfloat>
#include <cmath>
#include <utility>

namespace zvu {

zvuMatrix::zvuMatrix() noexcept : m_{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

zvuMatrix::zvuMatrix(const double elements[16]) noexcept {
    for (int i = 0; i < 16; ++i) m_[i] = elements[i];
}

zvuMatrix::zvuMatrix(const float elements[16]) noexcept {
    for (int i = 0; i < 16; ++i) m_[i] = static_cast<double>(elements[i]);
}

zvuMatrix zvuMatrix::identity() noexcept { return zvuMatrix(); }

zvuMatrix zvuMatrix::translation(double tx, double ty, double tz) noexcept {
    zvuMatrix r;
    r.m_[12] = tx;
    r.m_[13] = ty;
    r.m_[14] = tz;
    return r;
}

zvuMatrix zvuMatrix::scale(double sx, double sy, double sz) noexcept {
    zvuMatrix r;
    r.m_[0] = sx;
    r.m_[5] = sy;
    r.m_[10] = sz;
    return r;
}

zvuMatrix zvuMatrix::rotation(const zvuVector3Dd& axis, double angle) noexcept {
    const zvuVector3Dd a = axis.normalized();
    const double x = a.x, y = a.y, z = a.z;
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    zvuMatrix r;
    r.m_[0] = (1.0 - x * x) * c + x * x;
    r.m_[1] = x * y * t + z * s;
    r.m_[2] = x * z * t - y * s;
    r.m_[4] = x * y * t - z * s;
    r.m_[5] = (1.0 - y * y) * c + y * y;
    r.m_[6] = y * z * t + x * s;
    r.m_[8] = x * z * t + y * s;
    r.m_[9] = y * z * t - x * s;
    r.m_[10] = (1.0 - z * z) * c + z * z;
    return r;
}

zvuMatrix zvuMatrix::rotationTranslation(const zvuVector3Dd& axis, double angle,
                                         const zvuVector3Dd& translation) noexcept {
    zvuMatrix r = rotation(axis, angle);
    r.m_[12] = translation.x;
    r.m_[13] = translation.y;
    r.m_[14] = translation.z;
    return r;
}

zvuMatrix zvuMatrix::operator*(const zvuMatrix& other) const noexcept {
    zvuMatrix r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += at(row, k) * other.at(k, c);
            r.at(row, c) = sum;
        }
    }
    return r;
}

zvuMatrix zvuMatrix::transposed() const noexcept {
    zvuMatrix r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) r.at(row, c) = at(c, row);
    return r;
}

bool zvuMatrix::operator==(const zvuMatrix& other) const noexcept {
    for (int i = 0; i < 16; ++i)
        if (m_[i] != other.m_[i]) return false;
    return true;
}

// Doolittle LU factorisation P*A = L*U with partial pivoting (the largest
// magnitude in the column becomes the pivot; rows are exchanged), followed by
// forward and back substitution for each column of the identity.
//
// Singularity is judged by cancellation. Next to every working element the
// factorisation keeps the largest magnitude that went into it (the input
// element and every product subtracted from it). A pivot that has cancelled
// down to a few ulps of that magnitude carries no information, and dividing by
// it would return a "successful" inverse made of rounding noise. A pivot that
// no subtraction has touched is exact however small it is, so a tiny scale on
// one axis (1e-20) or a large translation next to a small scale stays
// invertible. An infinite or NaN element has no inverse to speak of and is
// refused up front.
bool zvuMatrix::inverse(zvuMatrix& result) const noexcept {
    constexpr double kRelativePivotTolerance = 4.0 * DBL_EPSILON;
    double lu[4][4];
    double magnitude[4][4];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            lu[r][c] = at(r, c);
            magnitude[r][c] = std::fabs(lu[r][c]);
            if (!std::isfinite(magnitude[r][c])) {
                result = zvuMatrix();
                return false;
            }
        }
    }
    int perm[4] = {0, 1, 2, 3};

    for (int k = 0; k < 4; ++k) {
        int p = k;
        for (int i = k + 1; i < 4; ++i)
            if (std::fabs(lu[i][k]) > std::fabs(lu[p][k])) p = i;
        if (!(std::fabs(lu[p][k]) > kRelativePivotTolerance * magnitude[p][k])) {
            result = zvuMatrix();
            return false;
        }
        if (p != k) {
            for (int c = 0; c < 4; ++c) {
                std::swap(lu[p][c], lu[k][c]);
                std::swap(magnitude[p][c], magnitude[k][c]);
            }
            std::swap(perm[p], perm[k]);
        }
        for (int i = k + 1; i < 4; ++i) {
            const double l = lu[i][k] / lu[k][k];
            lu[i][k] = l;
            for (int c = k + 1; c < 4; ++c) {
                const double term = l * lu[k][c];
                magnitude[i][c] = std::fmax(magnitude[i][c], std::fabs(term));
                lu[i][c] -= term;
            }
        }
    }

    double inv[4][4];
    for (int col = 0; col < 4; ++col) {
        // Solve L*y = P*e_col, then U*x = y.
        double y[4];
        for (int i = 0; i < 4; ++i) {
            double sum = perm[i] == col ? 1.0 : 0.0;
            for (int j = 0; j < i; ++j) sum -= lu[i][j] * y[j];
            y[i] = sum;
        }
        for (int i = 3; i >= 0; --i) {
            double sum = y[i];
            for (int j = i + 1; j < 4; ++j) sum -= lu[i][j] * inv[j][col];
            inv[i][col] = sum / lu[i][i];
        }
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) result.at(r, c) = inv[r][c];
    return true;
}

zvuVector3Dd zvuMatrix::transformPoint(const zvuVector3Dd& p) const noexcept {
    const double w = m_[3] * p.x + m_[7] * p.y + m_[11] * p.z + m_[15];
    return {(m_[0] * p.x + m_[4] * p.y + m_[8] * p.z + m_[12]) / w,
            (m_[1] * p.x + m_[5] * p.y + m_[9] * p.z + m_[13]) / w,
            (m_[2] * p.x + m_[6] * p.y + m_[10] * p.z + m_[14]) / w};
}

zvuVector3Dd zvuMatrix::transformDirection(const zvuVector3Dd& v) const noexcept {
    return {m_[0] * v.x + m_[4] * v.y + m_[8] * v.z, m_[1] * v.x + m_[5] * v.y + m_[9] * v.z,
            m_[2] * v.x + m_[6] * v.y + m_[10] * v.z};
}

// ------------------------------------------------------------------ polar decomposition
//
// Shoemake and Duff's iterative polar decomposition (Graphics Gems IV). The
// iteration works on X = M^T and converges to Q^T by the scaled Newton step
//     X <- (gamma * X + X^-T / gamma) / 2,
// with X^-T obtained from the adjoint transpose (cofactor matrix) divided by
// the determinant and gamma = ((|adj|_1 |adj|_inf) / (|X|_1 |X|_inf))^(1/4)
// / sqrt(|det|), which makes convergence quadratic from the first step. It
// stops when the one-norm of the change is at most 1e-6 of the one-norm of the
// estimate.
//
// A rank-deficient M has no inverse to iterate with; the moment a determinant
// of exactly zero appears, the orthogonal factor is built directly: Householder
// reflections rotate the matrix so that its null space lies along z, the
// remaining 2x2 block is factored by a closed-form plane rotation, and the
// reflections are undone on the result (rank 1 and rank 0 reduce further in
// the same way; rank 0 gives the identity).
//
// The published routine passes the same array as input and output of the
// rank-deficient step, so for rank 1 its output was always the identity and
// Q*S no longer reproduced M. Here the step gets its own output.
namespace {

struct Mat3 {
    double a[3][3];
};

constexpr double kPolarTolerance = 1.0e-6;
// Quadratic convergence needs well under twenty steps for any finite,
// non-singular input; the cap only bounds the time taken on inputs that are
// not (overflowing or NaN elements).
constexpr int kPolarMaxIterations = 64;

void cross3(const double* u, const double* v, double* out) noexcept {
    out[0] = u[1] * v[2] - u[2] * v[1];
    out[1] = u[2] * v[0] - u[0] * v[2];
    out[2] = u[0] * v[1] - u[1] * v[0];
}

double dot3(const double* u, const double* v) noexcept { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

Mat3 identity3() noexcept { return Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

Mat3 transpose3(const Mat3& m) noexcept {
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r.a[i][j] = m.a[j][i];
    return r;
}

Mat3 multiply3(const Mat3& x, const Mat3& y) noexcept {
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r.a[i][j] = x.a[i][0] * y.a[0][j] + x.a[i][1] * y.a[1][j] + x.a[i][2] * y.a[2][j];
    return r;
}

// Largest absolute column sum.
double normOne(const Mat3& m) noexcept {
    double best = 0.0;
    for (int j = 0; j < 3; ++j) {
        const double sum = std::fabs(m.a[0][j]) + std::fabs(m.a[1][j]) + std::fabs(m.a[2][j]);
        if (best < sum) best = sum;
    }
    return best;
}

// Largest absolute row sum.
double normInf(const Mat3& m) noexcept {
    double best = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double sum = std::fabs(m.a[i][0]) + std::fabs(m.a[i][1]) + std::fabs(m.a[i][2]);
        if (best < sum) best = sum;
    }
    return best;
}

// Cofactor matrix: the transpose of the adjugate, det(m) * m^-T.
Mat3 adjointTranspose(const Mat3& m) noexcept {
    Mat3 r;
    cross3(m.a[1], m.a[2], r.a[0]);
    cross3(m.a[2], m.a[0], r.a[1]);
    cross3(m.a[0], m.a[1], r.a[2]);
    return r;
}

// Column holding the element of largest magnitude, or -1 for the zero matrix.
int findMaxColumn(const Mat3& m) noexcept {
    double best = 0.0;
    int col = -1;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double mag = std::fabs(m.a[i][j]);
            if (mag > best) {
                best = mag;
                col = j;
            }
        }
    return col;
}

// Householder vector u (scaled so that the reflection is I - u u^T) that maps
// v onto the z axis. A zero v yields u = 0, the identity reflection.
void makeReflector(const double* v, double* u) noexcept {
    double s = std::sqrt(dot3(v, v));
    u[0] = v[0];
    u[1] = v[1];
    u[2] = v[2] + (v[2] < 0.0 ? -s : s);
    const double uu = dot3(u, u);
    s = uu > 0.0 ? std::sqrt(2.0 / uu) : 0.0;
    u[0] *= s;
    u[1] *= s;
    u[2] *= s;
}

// Reflects every column of m: m <- (I - u u^T) m.
void reflectColumns(Mat3& m, const double* u) noexcept {
    for (int i = 0; i < 3; ++i) {
        const double s = u[0] * m.a[0][i] + u[1] * m.a[1][i] + u[2] * m.a[2][i];
        for (int j = 0; j < 3; ++j) m.a[j][i] -= u[j] * s;
    }
}

// Reflects every row of m: m <- m (I - u u^T).
void reflectRows(Mat3& m, const double* u) noexcept {
    for (int i = 0; i < 3; ++i) {
        const double s = dot3(u, m.a[i]);
        for (int j = 0; j < 3; ++j) m.a[i][j] -= u[j] * s;
    }
}

Mat3 orthogonalFactorRank1(Mat3 m) noexcept {
    Mat3 q = identity3();
    const int col = findMaxColumn(m);
    if (col < 0) return q;
    double v1[3] = {m.a[0][col], m.a[1][col], m.a[2][col]};
    makeReflector(v1, v1);
    reflectColumns(m, v1);
    double v2[3] = {m.a[2][0], m.a[2][1], m.a[2][2]};
    makeReflector(v2, v2);
    reflectRows(m, v2);
    if (m.a[2][2] < 0.0) q.a[2][2] = -1.0;
    reflectColumns(q, v1);
    reflectRows(q, v2);
    return q;
}

Mat3 orthogonalFactorRank2(Mat3 m, const Mat3& madjT) noexcept {
    const int col = findMaxColumn(madjT);
    if (col < 0) return orthogonalFactorRank1(m);
    double v1[3] = {madjT.a[0][col], madjT.a[1][col], madjT.a[2][col]};
    makeReflector(v1, v1);
    reflectColumns(m, v1);
    double v2[3];
    cross3(m.a[0], m.a[1], v2);
    makeReflector(v2, v2);
    reflectRows(m, v2);
    const double w = m.a[0][0], x = m.a[0][1], y = m.a[1][0], z = m.a[1][1];
    Mat3 q = identity3();
    double c, s;
    const bool proper = w * z > x * y;
    if (proper) {
        c = z + w;
        s = y - x;
    } else {
        c = z - w;
        s = y + x;
    }
    const double d = std::sqrt(c * c + s * s);
    if (d > 0.0) {
        c /= d;
        s /= d;
    } else {
        c = 1.0;
        s = 0.0;
    }
    if (proper) {
        q.a[0][0] = q.a[1][1] = c;
        q.a[1][0] = s;
        q.a[0][1] = -s;
    } else {
        q.a[1][1] = c;
        q.a[0][0] = -c;
        q.a[0][1] = q.a[1][0] = s;
    }
    reflectColumns(q, v1);
    reflectRows(q, v2);
    return q;
}

}  // namespace

double zvuMatrix::polarDecompose(zvuMatrix& q, zvuMatrix& s) const noexcept {
    Mat3 m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.a[i][j] = at(i, j);

    Mat3 mk = transpose3(m);
    double mOne = normOne(mk);
    double mInf = normInf(mk);
    double det = 0.0;
    for (int iteration = 0; iteration < kPolarMaxIterations; ++iteration) {
        const Mat3 madjT = adjointTranspose(mk);
        det = dot3(mk.a[0], madjT.a[0]);
        if (det == 0.0) {
            mk = orthogonalFactorRank2(mk, madjT);
            break;
        }
        const double gamma = std::sqrt(std::sqrt((normOne(madjT) * normInf(madjT)) / (mOne * mInf)) / std::fabs(det));
        const double g1 = gamma * 0.5;
        const double g2 = 0.5 / (gamma * det);
        Mat3 change;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                const double next = g1 * mk.a[i][j] + g2 * madjT.a[i][j];
                change.a[i][j] = mk.a[i][j] - next;
                mk.a[i][j] = next;
            }
        const double changeOne = normOne(change);
        mOne = normOne(mk);
        mInf = normInf(mk);
        if (!(changeOne > mOne * kPolarTolerance)) break;
    }

    const Mat3 qt = mk;
    const Mat3 q3 = transpose3(qt);
    Mat3 s3 = multiply3(qt, m);
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j) s3.a[i][j] = s3.a[j][i] = 0.5 * (s3.a[i][j] + s3.a[j][i]);

    q = zvuMatrix();
    s = zvuMatrix();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            q.at(i, j) = q3.a[i][j];
            s.at(i, j) = s3.a[i][j];
        }
    return det;
}

}  // namespace zvu
