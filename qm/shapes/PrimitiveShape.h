// Primitive shapes: points, lines and polygons given to the library with
// qmBegin, qmVertex3* and qmEnd, in shape coordinates.
#pragma once

#include <array>
#include <vector>

#include "qm/shapes/MeshShape.h"

namespace QM {

class PrimitiveShape final : public MeshShape {
public:
    explicit PrimitiveShape(unsigned id) : MeshShape(id) {}
    QMenum getType() const override;
    // The winding that was the front face when the shape ended.
    QMenum getFrontFace() const { return frontFace_; }

private:
    friend class PrimitiveShapeBuilder;
    ~PrimitiveShape() override = default;
    QMenum frontFace_ = nullptr;
};

// Assembles vertices into points, lines and triangles as OpenGL assembles
// its primitives, and builds the shape when it ends. Vertices are kept as
// given (in double) until the end, where the winding then in force orients
// every triangle.
class PrimitiveShapeBuilder final : public BaseShapeBuilder {
public:
    void begin(unsigned id, IState& state) override;
    IShape* end(IState& state) override;

    // QMException(QM_INVALID_OPERATION) when a primitive is already started.
    void beginPrimitive(QMenum mode);
    // QMException(QM_INVALID_OPERATION) outside a primitive.
    void vertex(double x, double y, double z);
    // Closes a line loop, triangulates a polygon. QMException
    // (QM_INVALID_OPERATION) outside a primitive.
    void endPrimitive();

private:
    enum class Mode { None, Points, Lines, LineStrip, LineLoop, Triangles, TriangleStrip, Quads, QuadStrip, Polygon };
    using Vertex = zvu::zvuVector3Dd;

    void addTriangle(const Vertex& a, const Vertex& b, const Vertex& c) { triangles_.push_back({a, b, c}); }
    void reset();

    Mode mode_ = Mode::None;
    bool inPrimitive_ = false;
    int pending_ = 0;
    int stripParity_ = 0;
    // Numbered slots; slot 9 keeps a line loop's first vertex.
    std::array<Vertex, 10> slots_{};
    std::vector<Vertex> polygon_;
    std::vector<Vertex> points_;
    std::vector<std::array<Vertex, 2>> lines_;
    std::vector<std::array<Vertex, 3>> triangles_;
};

}  // namespace QM
