// Exported functions: shapes, primitives, per-shape results and the scene
// dump.
#include <fstream>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/PrimitiveShape.h"
#include "qm/shapes/SceneDump.h"
#include "qm/state/Conversions.h"

namespace QM {
namespace {

// The open shape's builder when it builds primitives; the calls of qmBegin
// ... qmEnd are refused for any other.
PrimitiveShapeBuilder& primitiveBuilder(Context& context) {
    auto* builder = dynamic_cast<PrimitiveShapeBuilder*>(context.openShape);
    require(builder != nullptr, QM_INVALID_OPERATION);
    return *builder;
}

void vertex(double x, double y, double z) {
    callInContext([&](Context& context) { primitiveBuilder(context).vertex(x, y, z); });
}

const AttributeMap& resultMap(Context& context, QMuint shapeId) {
    const AttributeMap* results = context.state->findResultMap(shapeId);
    require(results != nullptr, QM_INVALID_VALUE);
    return *results;
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmBeginShape(QMenum type, QMuint shapeId) {
    callInContext([&](Context& context) {
        require(!onCollisionThread() && context.openShape == nullptr, QM_INVALID_OPERATION);
        require(context.ids->isReserved(IDGenerator::kShapePool, shapeId), QM_INVALID_VALUE);
        // Only the shape types that have a builder; the reserved and internal
        // names (the base placeholder included) start nothing.
        IShapeBuilder* builder = isSymbol(type, QM_INT_SHAPE_BASE) ? nullptr : context.shapeBuilders->findBuilder(type);
        require(builder != nullptr, QM_INVALID_ENUM);
        builder->begin(shapeId, *context.state);
        context.openShape = builder;
    });
}

// The shape is closed before the builder finishes it, so a failed capture
// leaves no shape open.
QM_API void qmEndShape(void) {
    callInContext([&](Context& context) {
        require(!onCollisionThread() && context.openShape != nullptr, QM_INVALID_OPERATION);
        IShapeBuilder* builder = context.openShape;
        context.openShape = nullptr;
        context.addShape(builder->end(*context.state));
    });
}

// The placeholder carries the current attributes and transform. When the
// last frame holds the shape, the frame merge swaps the real shape in;
// otherwise the persistent shape itself takes the attributes and goes into
// the frame (the renderer lock is held: that shape may be on the collision
// side).
QM_API void qmCallShape(QMuint shapeId) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        require(!onCollisionThread() && context.inFrame, QM_INVALID_OPERATION);
        require(context.ids->isReserved(IDGenerator::kShapePool, shapeId), QM_INVALID_VALUE);
        IShape* persistent = context.persistentScene->getShapes().find(shapeId);
        require(persistent != nullptr, QM_INVALID_VALUE);
        IShapeBuilder* base = context.shapeBuilders->findBuilder(QM_INT_SHAPE_BASE);
        require(base != nullptr, QM_INVALID_OPERATION);
        base->begin(shapeId, *context.state);
        IShape* placeholder = base->end(*context.state);
        placeholder->addReference();
        try {
            if (context.lastScene->getShapes().find(shapeId) != nullptr) {
                context.addShape(placeholder);
            } else {
                persistent->setAttributes(placeholder->getAttributes());
                context.addShape(persistent);
            }
        } catch (...) {
            placeholder->releaseReference();
            throw;
        }
        placeholder->releaseReference();
    });
}

QM_API void qmBegin(QMenum mode) {
    callInContext([&](Context& context) { primitiveBuilder(context).beginPrimitive(mode); });
}

QM_API void qmVertex3d(QMdouble x, QMdouble y, QMdouble z) { vertex(x, y, z); }

QM_API void qmVertex3f(QMfloat x, QMfloat y, QMfloat z) { vertex(x, y, z); }

QM_API void qmVertex3dv(const QMdouble* v) {
    callInContext([&](Context& context) {
        PrimitiveShapeBuilder& builder = primitiveBuilder(context);
        require(v != nullptr, QM_INVALID_VALUE);
        builder.vertex(v[0], v[1], v[2]);
    });
}

QM_API void qmVertex3fv(const QMfloat* v) {
    callInContext([&](Context& context) {
        PrimitiveShapeBuilder& builder = primitiveBuilder(context);
        require(v != nullptr, QM_INVALID_VALUE);
        builder.vertex(v[0], v[1], v[2]);
    });
}

QM_API void qmEnd(void) {
    callInContext([&](Context& context) { primitiveBuilder(context).endPrimitive(); });
}

QM_API void qmGetShapeBooleanv(QMuint shapeId, QMenum pname, QMboolean* params) {
    callInContext([&](Context& context) {
        const AttributeMap& results = resultMap(context, shapeId);
        require(isSymbol(pname, QM_PROXY_IS_TOUCHING), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        bool touching = false;
        require(results.get<bool>(pname, touching), QM_INVALID_ENUM);
        params[0] = touching ? QM_TRUE : QM_FALSE;
    });
}

QM_API void qmGetShapeDoublev(QMuint shapeId, QMenum pname, QMdouble* params) {
    callInContext([&](Context& context) {
        const AttributeMap& results = resultMap(context, shapeId);
        require(isSymbol(pname, QM_REACTION_FORCE), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        double force[3];
        require(results.getArray<double>(pname, force), QM_INVALID_ENUM);
        const zvu::zvuVector3Dd model =
            convertDirection(context.state->getTransforms().getModelToWorkspace(), {force[0], force[1], force[2]});
        params[0] = model.x;
        params[1] = model.y;
        params[2] = model.z;
    });
}

// The renderer lock keeps the collision side from writing touch results
// into the shapes while their attributes are written out.
QM_API void qmDumpScene(const char* fileName) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        require(fileName != nullptr, QM_INVALID_OPERATION);
        std::ofstream out(fileName, std::ios::out | std::ios::trunc);
        require(out.is_open(), QM_INVALID_OPERATION);
        writeScene(out, *context.lastScene);
        out.flush();
        require(!out.fail(), QM_INVALID_OPERATION);
    });
}

}  // extern "C"
