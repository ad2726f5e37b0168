#include "qm/shapes/PrimitiveShape.h"

#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/state/State.h"

namespace QM {

namespace {

zvu::zvuVector3Df toFloat(const zvu::zvuVector3Dd& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

}  // namespace

QMenum PrimitiveShape::getType() const { return QM_SHAPE_PRIMITIVE; }

void PrimitiveShapeBuilder::reset() {
    mode_ = Mode::None;
    inPrimitive_ = false;
    pending_ = 0;
    stripParity_ = 0;
    polygon_.clear();
    points_.clear();
    lines_.clear();
    triangles_.clear();
}

void PrimitiveShapeBuilder::begin(unsigned id, IState& state) {
    reset();
    setId(id);
    setModelview(captureModelview(state));
}

IShape* PrimitiveShapeBuilder::end(IState& state) {
    QMenum frontFace = QM_CCW;
    state.getAttributes().get<QMenum>(QM_INT_FRONT_FACE, frontFace);
    auto* shape = new PrimitiveShape(getId());
    return finishOrDestroy(shape, [&](PrimitiveShape& s) {
        s.frontFace_ = frontFace;
        // The counter-clockwise side of a triangle is its front in the
        // right-handed shape space, unless the front face is clockwise.
        const int edgeOrderNormal = (frontFace != nullptr && frontFace == QM_CCW) ? 1 : 0;
        TouchGeometry& geometry = s.mutableGeometry();
        geometry.reserve(points_.size(), lines_.size(), triangles_.size());
        for (const Vertex& p : points_) {
            geometry.addPoint(toFloat(p));
        }
        for (const auto& l : lines_) {
            geometry.addLine(toFloat(l[0]), toFloat(l[1]));
        }
        for (const auto& t : triangles_) {
            zvu::PrimitiveTriangle triangle(zvu::PrimitiveTriangleStorage(toFloat(t[0]), toFloat(t[1]), toFloat(t[2])),
                                            edgeOrderNormal);
            geometry.addTriangle(triangle);
        }
        geometry.build();
        reset();
        finishShape(s, state, kCopyCapturedShape);
        // Primitive geometry is given in shape coordinates, never through
        // the haptic camera.
        s.getAttributes().set<bool>(QM_HAPTIC_CAMERA_VIEW, false);
        s.setLocalFrame(s.workspaceToShape(), s.shapeToWorkspace());
    });
}

void PrimitiveShapeBuilder::beginPrimitive(QMenum mode) {
    if (inPrimitive_) {
        throw QMException(QM_INVALID_OPERATION);
    }
    const std::pair<const QMenum*, Mode> modes[] = {
        {&QM_POINTS, Mode::Points},      {&QM_LINES, Mode::Lines},          {&QM_LINE_STRIP, Mode::LineStrip},
        {&QM_LINE_LOOP, Mode::LineLoop}, {&QM_TRIANGLES, Mode::Triangles},  {&QM_TRIANGLE_STRIP, Mode::TriangleStrip},
        {&QM_QUADS, Mode::Quads},        {&QM_QUAD_STRIP, Mode::QuadStrip}, {&QM_POLYGON, Mode::Polygon},
    };
    mode_ = Mode::None;
    for (const auto& [symbol, value] : modes) {
        if (mode != nullptr && mode == *symbol) {
            mode_ = value;
        }
    }
    pending_ = 0;
    stripParity_ = 0;
    polygon_.clear();
    inPrimitive_ = true;
}

// Each vertex goes to slot `pending`; a completed primitive is emitted and
// the slots are shifted as the mode requires.
void PrimitiveShapeBuilder::vertex(double x, double y, double z) {
    if (!inPrimitive_) {
        throw QMException(QM_INVALID_OPERATION);
    }
    const Vertex v{x, y, z};
    if (mode_ == Mode::Polygon) {
        polygon_.push_back(v);
        return;
    }
    if (mode_ == Mode::None) {
        return;
    }
    Vertex* s = slots_.data();
    s[pending_++] = v;
    switch (mode_) {
    case Mode::Points:
        points_.push_back(s[0]);
        pending_ = 0;
        break;
    case Mode::Lines:
        pending_ %= 2;
        if (pending_ == 0) {
            lines_.push_back({s[0], s[1]});
        }
        break;
    case Mode::LineLoop:
        if (pending_ == 1) {
            s[9] = v;
        }
        [[fallthrough]];
    case Mode::LineStrip:
        if (pending_ == 2) {
            lines_.push_back({s[0], s[1]});
            s[0] = s[1];
            pending_ = 1;
        }
        break;
    case Mode::Triangles:
        pending_ %= 3;
        if (pending_ == 0) {
            addTriangle(s[0], s[1], s[2]);
        }
        break;
    case Mode::TriangleStrip:
        // a, b, c, d, e ... give (a, b, c), (c, b, d), (c, d, e), ...: the
        // winding alternates as OpenGL's does.
        if (pending_ == 3) {
            addTriangle(s[0], s[1], s[2]);
            s[stripParity_ == 0 ? 0 : 1] = s[2];
            pending_ = 2;
            stripParity_ ^= 1;
        }
        break;
    case Mode::Quads:
        pending_ %= 4;
        if (pending_ == 0) {
            addTriangle(s[0], s[1], s[2]);
            addTriangle(s[0], s[2], s[3]);
        }
        break;
    case Mode::QuadStrip:
        // OpenGL takes each quad of the strip as (first, second, fourth,
        // third): a, b, c, d, e, f give the quads (a, b, d, c) and
        // (c, d, f, e), each split like a quad of QM_QUADS.
        if (pending_ == 4) {
            addTriangle(s[0], s[1], s[3]);
            addTriangle(s[0], s[3], s[2]);
            s[0] = s[2];
            s[1] = s[3];
            pending_ = 2;
        }
        break;
    case Mode::None:
    case Mode::Polygon: break;
    }
}

void PrimitiveShapeBuilder::endPrimitive() {
    if (!inPrimitive_) {
        throw QMException(QM_INVALID_OPERATION);
    }
    if (mode_ == Mode::LineLoop && pending_ == 1) {
        lines_.push_back({slots_[0], slots_[9]});
    } else if (mode_ == Mode::Polygon) {
        for (std::size_t i = 2; i < polygon_.size(); ++i) {
            addTriangle(polygon_[0], polygon_[i - 1], polygon_[i]);
        }
        polygon_.clear();
    }
    pending_ = 0;
    inPrimitive_ = false;
}

}  // namespace QM
