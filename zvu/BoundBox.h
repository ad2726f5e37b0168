// Axis-aligned boxes.
//
// BoundBox3 is a box with corners min and max and an empty flag; the box is
// empty whenever min <= max fails in some component (a NaN corner makes it
// empty too). An empty box contains nothing and its corners carry no meaning.
//
// Only center(), range() and grow() report errors, by throwing BoundBoxError
// when the box is empty; every other operation is noexcept. Nothing allocates,
// the error path included. A box is a plain value: concurrent reads are safe,
// a write needs the caller's exclusion.
#pragma once

#include <exception>

#include "zvu/Line.h"
#include "zvu/Vector3D.h"

namespace zvu {

// Thrown by the BoundBox3 operations that have no meaning on an empty box.
// The message is a string literal owned by the library.
class BoundBoxError : public std::exception {
public:
    explicit BoundBoxError(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }
    const char* message() const noexcept { return message_; }

private:
    const char* message_;
};

class BoundBox3 {
public:
    // An empty box with both corners at zero.
    BoundBox3() noexcept = default;
    // With `sort`, min and max are the component-wise minimum and maximum of a
    // and b; without it, min = a and max = b (which may leave the box empty).
    BoundBox3(const zvuVector3Dd& a, const zvuVector3Dd& b, bool sort) noexcept;
    // Copies the empty flag and, for a non-empty box, the corners; the copy
    // of an empty box has both corners at zero.
    BoundBox3(const BoundBox3& other) noexcept;
    BoundBox3& operator=(const BoundBox3& other) noexcept;

    const zvuVector3Dd& min() const noexcept { return min_; }
    const zvuVector3Dd& max() const noexcept { return max_; }
    bool empty() const noexcept { return empty_; }

    // Replaces this box by its intersection with `other`: empty when either is
    // empty, otherwise the larger minima and the smaller maxima (which may be
    // empty). Returns *this.
    BoundBox3& intersect(const BoundBox3& other) noexcept;
    // False for an empty box; otherwise min <= point <= max in every component.
    bool contains(const zvuVector3Dd& point) const noexcept;
    // Moves every face outwards by `amount` (inwards when negative, which can
    // empty the box). Throws BoundBoxError("growing empty BoundBox") on an
    // empty box.
    void grow(double amount);
    // (min + max) / 2. Throws BoundBoxError("center of empty BoundBox3") on an
    // empty box.
    zvuVector3Dd center() const;
    // max - min. Throws BoundBoxError("range of empty BoundBox3") on an empty
    // box.
    zvuVector3Dd range() const;

    // The parameter interval [t0, t1] over which `line` crosses the box.
    // Along each axis whose direction component exceeds eps in magnitude
    // (x, y, z in turn), the line is intersected with the box's two faces
    // (min, then max); a crossing counts when it lies in the box grown by eps.
    // With at least two counted crossings the call returns true and sets t0
    // and t1 to the smallest and largest of them; otherwise (and always for
    // an empty box) it returns false and leaves t0 and t1 unchanged.
    template <zvuScalar T>
    bool clipLine(const zvuLine<T>& line, double& t0, double& t1, double eps) const noexcept;

private:
    void updateEmpty() noexcept;

    zvuVector3Dd min_{};
    zvuVector3Dd max_{};
    bool empty_{true};
};

extern template bool BoundBox3::clipLine<double>(const zvuLine<double>&, double&, double&, double) const noexcept;
extern template bool BoundBox3::clipLine<float>(const zvuLine<float>&, double&, double&, double) const noexcept;

}  // namespace zvu
