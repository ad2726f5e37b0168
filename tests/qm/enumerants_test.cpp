// The exported enumerant variables: values set at load, texts, identity.
#include <cstring>
#include <set>
#include <string>

#include "qm_test_support.h"

namespace {

struct Named {
    QMenum* variable;
    const char* name;
};

#define QM_NAMED(x) \
    Named { &x, #x }

const Named kPublic[] = {
    QM_NAMED(QM_NO_ERROR),
    QM_NAMED(QM_INVALID_ENUM),
    QM_NAMED(QM_INVALID_VALUE),
    QM_NAMED(QM_INVALID_OPERATION),
    QM_NAMED(QM_STACK_OVERFLOW),
    QM_NAMED(QM_STACK_UNDERFLOW),
    QM_NAMED(QM_OUT_OF_MEMORY),
    QM_NAMED(QM_DEVICE_ERROR),
    QM_NAMED(QM_STIFFNESS),
    QM_NAMED(QM_DAMPING),
    QM_NAMED(QM_STATIC_FRICTION),
    QM_NAMED(QM_DYNAMIC_FRICTION),
    QM_NAMED(QM_POPTHROUGH),
    QM_NAMED(QM_FRONT),
    QM_NAMED(QM_BACK),
    QM_NAMED(QM_FRONT_AND_BACK),
    QM_NAMED(QM_CW),
    QM_NAMED(QM_CCW),
    QM_NAMED(QM_TOUCHABLE_FACE),
    QM_NAMED(QM_TOUCHED_FACE),
    QM_NAMED(QM_TOUCH_MODEL),
    QM_NAMED(QM_CONTACT),
    QM_NAMED(QM_CONSTRAINT),
    QM_NAMED(QM_SNAP_DISTANCE),
    QM_NAMED(QM_PROXY_RESOLUTION),
    QM_NAMED(QM_HAPTIC_CAMERA_VIEW),
    QM_NAMED(QM_ADAPTIVE_VIEWPORT),
    QM_NAMED(QM_USE_GL_MODELVIEW),
    QM_NAMED(QM_SHAPE_FEEDBACK_BUFFER),
    QM_NAMED(QM_SHAPE_DEPTH_BUFFER),
    QM_NAMED(QM_SHAPE_CALLBACK),
    QM_NAMED(QM_SHAPE_PRIMITIVE),
    QM_NAMED(QM_SHAPE_FEEDBACK_BUFFER_VERTICES),
    QM_NAMED(QM_SHAPE_DYNAMIC_SURFACE_CHANGE),
    QM_NAMED(QM_SHAPE_PERSISTENCE),
    QM_NAMED(QM_SHAPE_INTERSECT_LS),
    QM_NAMED(QM_SHAPE_CLOSEST_FEATURES),
    QM_NAMED(QM_LOCAL_FEATURE_POINT),
    QM_NAMED(QM_LOCAL_FEATURE_LINE),
    QM_NAMED(QM_LOCAL_FEATURE_PLANE),
    QM_NAMED(QM_TRIANGLES),
    QM_NAMED(QM_TRIANGLE_STRIP),
    QM_NAMED(QM_QUADS),
    QM_NAMED(QM_QUAD_STRIP),
    QM_NAMED(QM_POLYGON),
    QM_NAMED(QM_LINES),
    QM_NAMED(QM_LINE_STRIP),
    QM_NAMED(QM_LINE_LOOP),
    QM_NAMED(QM_POINTS),
    QM_NAMED(QM_PROXY_IS_TOUCHING),
    QM_NAMED(QM_PROXY_TOUCH_NORMAL),
    QM_NAMED(QM_REACTION_FORCE),
    QM_NAMED(QM_VIEWTOUCH),
    QM_NAMED(QM_TOUCHWORKSPACE),
    QM_NAMED(QM_MODELVIEW),
    QM_NAMED(QM_VIEWTOUCH_MATRIX),
    QM_NAMED(QM_TOUCHWORKSPACE_MATRIX),
    QM_NAMED(QM_MODELVIEW_MATRIX),
    QM_NAMED(QM_WORKSPACE),
    QM_NAMED(QM_MAX_WORKSPACE_DIMS),
    QM_NAMED(QM_PROXY_POSITION),
    QM_NAMED(QM_PROXY_ROTATION),
    QM_NAMED(QM_PROXY_TRANSFORM),
    QM_NAMED(QM_DEVICE_POSITION),
    QM_NAMED(QM_DEVICE_ROTATION),
    QM_NAMED(QM_DEVICE_TRANSFORM),
    QM_NAMED(QM_DEVICE_FORCE),
    QM_NAMED(QM_DEVICE_TORQUE),
    QM_NAMED(QM_GOLDEN_POSITION),
    QM_NAMED(QM_GOLDEN_RADIUS),
    QM_NAMED(QM_BUTTON1_STATE),
    QM_NAMED(QM_BUTTON2_STATE),
    QM_NAMED(QM_BUTTON3_STATE),
    QM_NAMED(QM_SAFETY_STATE),
    QM_NAMED(QM_INKWELL_STATE),
    QM_NAMED(QM_EVENT_MOTION),
    QM_NAMED(QM_EVENT_1BUTTONDOWN),
    QM_NAMED(QM_EVENT_1BUTTONUP),
    QM_NAMED(QM_EVENT_2BUTTONDOWN),
    QM_NAMED(QM_EVENT_2BUTTONUP),
    QM_NAMED(QM_EVENT_3BUTTONDOWN),
    QM_NAMED(QM_EVENT_3BUTTONUP),
    QM_NAMED(QM_EVENT_SAFETYDOWN),
    QM_NAMED(QM_EVENT_SAFETYUP),
    QM_NAMED(QM_EVENT_INKWELLDOWN),
    QM_NAMED(QM_EVENT_INKWELLUP),
    QM_NAMED(QM_EVENT_TOUCH),
    QM_NAMED(QM_EVENT_UNTOUCH),
    QM_NAMED(QM_EVENT_CALIBRATION_UPDATE),
    QM_NAMED(QM_EVENT_CALIBRATION_INPUT),
    QM_NAMED(QM_EVENT_MOTION_LINEAR_TOLERANCE),
    QM_NAMED(QM_EVENT_MOTION_ANGULAR_TOLERANCE),
    QM_NAMED(QM_CLIENT_THREAD),
    QM_NAMED(QM_COLLISION_THREAD),
    QM_NAMED(QM_EFFECT_CALLBACK),
    QM_NAMED(QM_EFFECT_CONSTANT),
    QM_NAMED(QM_EFFECT_SPRING),
    QM_NAMED(QM_EFFECT_VISCOUS),
    QM_NAMED(QM_EFFECT_FRICTION),
    QM_NAMED(QM_EFFECT_COMPUTE_FORCE),
    QM_NAMED(QM_EFFECT_START),
    QM_NAMED(QM_EFFECT_STOP),
    QM_NAMED(QM_EFFECT_PROPERTY_TYPE),
    QM_NAMED(QM_EFFECT_PROPERTY_GAIN),
    QM_NAMED(QM_EFFECT_PROPERTY_MAGNITUDE),
    QM_NAMED(QM_EFFECT_PROPERTY_FREQUENCY),
    QM_NAMED(QM_EFFECT_PROPERTY_DURATION),
    QM_NAMED(QM_EFFECT_PROPERTY_POSITION),
    QM_NAMED(QM_EFFECT_PROPERTY_DIRECTION),
    QM_NAMED(QM_EFFECT_PROPERTY_ACTIVE),
    QM_NAMED(QM_VERSION),
    QM_NAMED(QM_VENDOR),
};

const Named kReserved[] = {
    QM_NAMED(QM_DYNAMIC_PROXY_POSITION),
    QM_NAMED(QM_DYNAMIC_PROXY_ROTATION),
    QM_NAMED(QM_DYNAMIC_PROXY_TRANSFORM),
    QM_NAMED(QM_EFFECT_INERTIA),
    QM_NAMED(QM_EFFECT_RAMP),
    QM_NAMED(QM_EFFECT_SAWTOOTHDOWN),
    QM_NAMED(QM_EFFECT_SAWTOOTHUP),
    QM_NAMED(QM_EFFECT_SINE),
    QM_NAMED(QM_EFFECT_SQUARE),
    QM_NAMED(QM_EFFECT_TRIANGLE),
    QM_NAMED(QM_FLAT),
    QM_NAMED(QM_SMOOTH),
    QM_NAMED(QM_REACTION_TORQUE),
    QM_NAMED(QM_TIME),
};

#undef QM_NAMED

TEST(QmEnumerants, EveryPublicSymbolHoldsItsOwnNameAsText) {
    ASSERT_EQ(std::size(kPublic), 112u);
    for (const Named& n : kPublic) {
        ASSERT_NE(*n.variable, nullptr) << n.name;
        // The one symbol whose text is not its name.
        const std::string expected =
            std::strcmp(n.name, "QM_EFFECT_PROPERTY_TYPE") == 0 ? "QM_EFFECT_PROPERTY_TYP" : n.name;
        EXPECT_EQ(std::string(*n.variable), expected);
    }
}

TEST(QmEnumerants, EverySymbolIsADistinctPointer) {
    std::set<const void*> seen;
    for (const Named& n : kPublic) {
        EXPECT_TRUE(seen.insert(*n.variable).second) << n.name;
    }
}

TEST(QmEnumerants, ReservedVariablesStayNull) {
    ASSERT_EQ(std::size(kReserved), 14u);
    for (const Named& n : kReserved) {
        EXPECT_EQ(*n.variable, nullptr) << n.name;
    }
}

TEST(QmEnumerants, GroupBitsAndObjectAnyAreIntegers) {
    EXPECT_EQ(QM_HINT_BIT, 1u);
    EXPECT_EQ(QM_MATERIAL_BIT, 2u);
    EXPECT_EQ(QM_TOUCH_BIT, 4u);
    EXPECT_EQ(QM_TRANSFORM_BIT, 8u);
    EXPECT_EQ(QM_EFFECT_BIT, 16u);
    EXPECT_EQ(QM_EVENTS_BIT, 32u);
    EXPECT_EQ(QM_OBJECT_ANY, 0u);
}

class QmEnumerantChecks : public qmtest::ContextTest {};

// A text equal to a symbol's is not the symbol: checks compare pointers.
TEST_F(QmEnumerantChecks, AStringWithTheSameTextIsNotTheSymbol) {
    char front[] = "QM_FRONT";
    qmTouchableFace(front);
    expectErrors({QM_INVALID_ENUM});
    qmTouchModel("QM_CONSTRAINT");
    expectErrors({QM_INVALID_ENUM});
    QMintptr face = 0;
    qmGetIntegerv(QM_TOUCHABLE_FACE, &face);
    EXPECT_EQ(face, reinterpret_cast<QMintptr>(QM_FRONT));
}

// The reserved names hold null, and a null symbol is refused like any
// unknown one, with the error each function gives for unknown symbols.
TEST_F(QmEnumerantChecks, ReservedAndNullSymbolsAreRefusedAsUnknown) {
    struct Case {
        const char* call;
        void (*run)(QMenum);
        QMenum error;
    };
    const Case cases[] = {
        {"qmTouchableFace", [](QMenum e) { qmTouchableFace(e); }, QM_INVALID_ENUM},
        {"qmTouchModel", [](QMenum e) { qmTouchModel(e); }, QM_INVALID_ENUM},
        {"qmTouchModelf", [](QMenum e) { qmTouchModelf(e, 1.0f); }, QM_INVALID_ENUM},
        {"qmMatrixMode", [](QMenum e) { qmMatrixMode(e); }, QM_INVALID_ENUM},
        {"qmMaterialf face", [](QMenum e) { qmMaterialf(e, QM_STIFFNESS, 0.5f); }, QM_INVALID_ENUM},
        {"qmMaterialf property", [](QMenum e) { qmMaterialf(QM_FRONT, e, 0.5f); }, QM_INVALID_ENUM},
        {"qmHinti", [](QMenum e) { qmHinti(e, 1); }, QM_INVALID_ENUM},
        {"qmHintb", [](QMenum e) { qmHintb(e, 1); }, QM_INVALID_ENUM},
        {"qmIsEnabled", [](QMenum e) { EXPECT_FALSE(qmIsEnabled(e)); }, QM_INVALID_ENUM},
        {"qmEnable", [](QMenum e) { qmEnable(e); }, QM_INVALID_OPERATION},
        {"qmDisable", [](QMenum e) { qmDisable(e); }, QM_INVALID_OPERATION},
        {"qmGetDoublev",
         [](QMenum e) {
             double v[16];
             qmGetDoublev(e, v);
         },
         QM_INVALID_ENUM},
        {"qmGetBooleanv",
         [](QMenum e) {
             QMboolean v;
             qmGetBooleanv(e, &v);
         },
         QM_INVALID_ENUM},
        {"qmGetIntegerv",
         [](QMenum e) {
             QMintptr v;
             qmGetIntegerv(e, &v);
         },
         QM_INVALID_ENUM},
    };
    for (const Case& c : cases) {
        for (QMenum symbol : {QM_FLAT, QM_EFFECT_SINE, static_cast<QMenum>(nullptr)}) {
            SCOPED_TRACE(c.call);
            c.run(symbol);
            expectErrors({c.error});
        }
    }
}

}  // namespace
