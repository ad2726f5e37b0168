// Exported functions: the application callbacks of callback shapes and
// callback effects.
#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"
#include "qm/state/Attrib.h"

namespace QM {
namespace {

// A callback type with the attribute its user data is kept under, and
// whether it belongs to a shape (and so needs an open shape).
struct CallbackKey {
    const QMenum* type;
    const QMenum* userData;
    bool shape;
};

const CallbackKey kCallbackKeys[] = {
    {&QM_SHAPE_INTERSECT_LS, &QM_INT_SHAPE_INTERSECT_LS_USER_DATA, true},
    {&QM_SHAPE_CLOSEST_FEATURES, &QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA, true},
    {&QM_EFFECT_COMPUTE_FORCE, &QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, false},
    {&QM_EFFECT_START, &QM_INT_EFFECT_START_USER_DATA, false},
    {&QM_EFFECT_STOP, &QM_INT_EFFECT_STOP_USER_DATA, false},
};

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmCallback(QMenum type, QMcallback function, void* userData) {
    callInContext([&](Context& context) {
        require(context.inFrame, QM_INVALID_OPERATION);
        const CallbackKey* key = nullptr;
        for (const CallbackKey& candidate : kCallbackKeys) {
            if (isSymbol(type, *candidate.type)) {
                key = &candidate;
            }
        }
        require(key != nullptr, QM_INVALID_ENUM);
        require(!key->shape || context.openShape != nullptr, QM_INVALID_OPERATION);
        IStackedAttributeMap& attributes = context.state->getAttributes();
        attributes.set<AttribCallback>(*key->type, function);
        attributes.set<void*>(*key->userData, userData);
    });
}

}  // extern "C"
