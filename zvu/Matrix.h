// 4x4 matrices of doubles in OpenGL element order.
//
// The sixteen elements are stored column-major exactly as glGetDoublev returns
// them: element (row r, column c) is m[4 * c + r], and elements 12, 13 and 14
// hold the translation. Points are column vectors, so the product A * B is the
// transform that applies B to a point first and then A; followedBy() spells the
// same thing in the order the transforms apply.
//
// Every operation is noexcept and allocation free and may be called from any
// thread; a zvuMatrix is a value and needs no locking of its own.
#pragma once

#include "zvu/Vector3D.h"

namespace zvu {

class zvuMatrix {
public:
    // The identity.
    zvuMatrix() noexcept;
    // Copies sixteen doubles in OpenGL element order (column-major).
    explicit zvuMatrix(const double elements[16]) noexcept;
    // Widens sixteen floats in OpenGL element order.
    explicit zvuMatrix(const float elements[16]) noexcept;

    static zvuMatrix identity() noexcept;
    static zvuMatrix translation(double tx, double ty, double tz) noexcept;
    static zvuMatrix scale(double sx, double sy, double sz) noexcept;
    // Rotation by `angle` radians about `axis` (right-handed). The axis is
    // normalised first unless its length is zero; a zero axis therefore yields
    // cos(angle) on the diagonal and no rotation terms.
    static zvuMatrix rotation(const zvuVector3Dd& axis, double angle) noexcept;
    // The rotation above with the translation written into elements 12 to 14.
    static zvuMatrix rotationTranslation(const zvuVector3Dd& axis, double angle,
                                         const zvuVector3Dd& translation) noexcept;

    double& operator[](int i) noexcept { return m_[i]; }
    double operator[](int i) const noexcept { return m_[i]; }
    // Element at row r, column c.
    double& at(int r, int c) noexcept { return m_[4 * c + r]; }
    double at(int r, int c) const noexcept { return m_[4 * c + r]; }
    const double* data() const noexcept { return m_; }
    double* data() noexcept { return m_; }

    // The mathematical product this * other: `other` applies first.
    zvuMatrix operator*(const zvuMatrix& other) const noexcept;
    // The transform that applies this matrix first and then `next`
    // (next * this).
    zvuMatrix followedBy(const zvuMatrix& next) const noexcept { return next * *this; }
    zvuMatrix transposed() const noexcept;
    bool operator==(const zvuMatrix& other) const noexcept;

    // General inverse by LU decomposition with partial pivoting. Returns true
    // and writes the inverse to `result` when the matrix is invertible. A matrix
    // is treated as singular, and the call returns false with `result` set to
    // the identity, when a pivot has cancelled away (|pivot| <= 4 * DBL_EPSILON
    // * the largest magnitude that went into it: the input element and the
    // products subtracted from it) or when the input holds an infinite or NaN
    // element. `result` may alias this matrix.
    bool inverse(zvuMatrix& result) const noexcept;

    // Transforms a point with perspective division:
    // x' = (m0 x + m4 y + m8 z + m12) / w, likewise y' and z', with
    // w = m3 x + m7 y + m11 z + m15. A point mapped to w = 0 comes out with
    // infinite or NaN components (it lies at infinity).
    zvuVector3Dd transformPoint(const zvuVector3Dd& p) const noexcept;
    // Applies the upper 3x3 part only (a direction: no translation, no
    // perspective).
    zvuVector3Dd transformDirection(const zvuVector3Dd& v) const noexcept;

    // Polar decomposition of the upper 3x3 part M = Q * S into an orthogonal
    // factor Q and a symmetric stretch S (see Matrix.cpp for the algorithm).
    // Q and S are written with zero translation and element 15 = 1; S is
    // Q^T * M with each off-diagonal pair averaged. Returns the determinant of
    // the last iterate: negative when M reflects (Q is then a reflection, not
    // a rotation), zero when M is rank deficient. `q` and `s` must not alias
    // each other; either may alias this matrix.
    double polarDecompose(zvuMatrix& q, zvuMatrix& s) const noexcept;

private:
    double m_[16];
};

}  // namespace zvu
