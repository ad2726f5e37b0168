// The attribute state through the API: defaults, checks, push and pop.
#include <cfloat>
#include <cmath>

#include "qm_test_support.h"

namespace {

using qmtest::ContextTest;

class QmAttributes : public ContextTest {
protected:
    float material(QMenum face, QMenum property) {
        float value = -1.0f;
        qmGetMaterialfv(face, property, &value);
        return value;
    }
    QMintptr integer(QMenum name) {
        QMintptr value = -1;
        qmGetIntegerv(name, &value);
        return value;
    }
    static QMintptr symbol(QMenum s) { return reinterpret_cast<QMintptr>(s); }
};

TEST_F(QmAttributes, MaterialDefaults) {
    for (QMenum face : {QM_FRONT, QM_BACK}) {
        EXPECT_FLOAT_EQ(material(face, QM_STIFFNESS), 0.8f) << qmtest::name(face);
        for (QMenum property : {QM_DAMPING, QM_STATIC_FRICTION, QM_DYNAMIC_FRICTION, QM_POPTHROUGH}) {
            EXPECT_EQ(material(face, property), 0.0f) << qmtest::name(face) << " " << qmtest::name(property);
        }
    }
    expectNoError();
}

TEST_F(QmAttributes, CapabilityAndTouchDefaults) {
    EXPECT_TRUE(qmIsEnabled(QM_USE_GL_MODELVIEW));
    EXPECT_TRUE(qmIsEnabled(QM_PROXY_RESOLUTION));
    EXPECT_FALSE(qmIsEnabled(QM_HAPTIC_CAMERA_VIEW));
    EXPECT_FALSE(qmIsEnabled(QM_ADAPTIVE_VIEWPORT));
    EXPECT_EQ(integer(QM_TOUCHABLE_FACE), symbol(QM_FRONT));
    EXPECT_EQ(integer(QM_TOUCH_MODEL), symbol(QM_CONTACT));
    EXPECT_EQ(integer(QM_SHAPE_FEEDBACK_BUFFER_VERTICES), 65536);
    double tolerance = 0.0;
    qmGetDoublev(QM_EVENT_MOTION_LINEAR_TOLERANCE, &tolerance);
    EXPECT_EQ(tolerance, 1.0);
    qmGetDoublev(QM_EVENT_MOTION_ANGULAR_TOLERANCE, &tolerance);
    EXPECT_EQ(tolerance, 0.02);
    for (QMenum name : {QM_BUTTON1_STATE, QM_BUTTON2_STATE, QM_BUTTON3_STATE, QM_SAFETY_STATE, QM_INKWELL_STATE,
                        QM_PROXY_IS_TOUCHING}) {
        QMboolean value = 7;
        qmGetBooleanv(name, &value);
        EXPECT_EQ(value, QM_FALSE) << qmtest::name(name);
    }
    expectNoError();
}

// QM_SNAP_DISTANCE is a float: it can be set but has no getter of its own.
TEST_F(QmAttributes, SnapDistanceAcceptsAnyValue) {
    qmTouchModelf(QM_SNAP_DISTANCE, -3.0f);
    qmTouchModelf(QM_SNAP_DISTANCE, FLT_MAX);
    expectNoError();
    qmTouchModelf(QM_STIFFNESS, 1.0f);
    expectErrors({QM_INVALID_ENUM});
}

TEST_F(QmAttributes, MaterialValueChecks) {
    struct Case {
        QMenum face;
        QMenum property;
        float value;
        QMenum error;  // null: accepted
    };
    const Case cases[] = {
        {QM_FRONT, QM_STIFFNESS, 0.0f, nullptr},
        {QM_FRONT, QM_STIFFNESS, 1.0f, nullptr},
        {QM_FRONT, QM_STIFFNESS, 1.5f, QM_INVALID_VALUE},
        {QM_BACK, QM_DAMPING, -0.001f, QM_INVALID_VALUE},
        {QM_BACK, QM_DAMPING, NAN, QM_INVALID_VALUE},
        {QM_BACK, QM_DAMPING, INFINITY, QM_INVALID_VALUE},
        // the value is checked before the names
        {QM_CW, QM_STIFFNESS, 2.0f, QM_INVALID_VALUE},
        {QM_CW, QM_STIFFNESS, 0.5f, QM_INVALID_ENUM},
        {QM_FRONT, QM_SNAP_DISTANCE, 0.5f, QM_INVALID_ENUM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qmtest::name(c.face) + " " + qmtest::name(c.property) + " " + std::to_string(c.value));
        const float before = material(QM_FRONT, QM_STIFFNESS);
        qmMaterialf(c.face, c.property, c.value);
        if (c.error == nullptr) {
            expectNoError();
            EXPECT_EQ(material(c.face, c.property), c.value);
        } else {
            expectErrors({c.error});
            EXPECT_EQ(material(QM_FRONT, QM_STIFFNESS), before);
        }
    }
}

TEST_F(QmAttributes, FrontAndBackSetsBothFacesButIsNoFaceToRead) {
    qmMaterialf(QM_FRONT_AND_BACK, QM_STATIC_FRICTION, 0.3f);
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_STATIC_FRICTION), 0.3f);
    EXPECT_FLOAT_EQ(material(QM_BACK, QM_STATIC_FRICTION), 0.3f);
    expectNoError();
    float value = 9.0f;
    qmGetMaterialfv(QM_FRONT_AND_BACK, QM_STATIC_FRICTION, &value);
    EXPECT_EQ(value, 9.0f);
    expectErrors({QM_INVALID_ENUM});
}

TEST_F(QmAttributes, SymbolSetters) {
    struct Case {
        void (*set)(QMenum);
        QMenum name;
        QMenum value;
        bool accepted;
    };
    const Case cases[] = {
        {qmTouchableFace, QM_TOUCHABLE_FACE, QM_BACK, true},
        {qmTouchableFace, QM_TOUCHABLE_FACE, QM_FRONT_AND_BACK, true},
        {qmTouchableFace, QM_TOUCHABLE_FACE, QM_CCW, false},
        {qmTouchModel, QM_TOUCH_MODEL, QM_CONSTRAINT, true},
        {qmTouchModel, QM_TOUCH_MODEL, QM_CONTACT, true},
        {qmTouchModel, QM_TOUCH_MODEL, QM_FRONT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qmtest::name(c.name) + " " + qmtest::name(c.value));
        const QMintptr before = integer(c.name);
        c.set(c.value);
        if (c.accepted) {
            expectNoError();
            EXPECT_EQ(integer(c.name), symbol(c.value));
        } else {
            expectErrors({QM_INVALID_ENUM});
            EXPECT_EQ(integer(c.name), before);
        }
    }
}

// The winding is stored as given, unchecked.
TEST_F(QmAttributes, FrontFaceIsNotChecked) {
    qmFrontFace(QM_CW);
    qmFrontFace(QM_STIFFNESS);
    qmFrontFace(nullptr);
    expectNoError();
}

TEST_F(QmAttributes, Hints) {
    qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 0);
    EXPECT_EQ(integer(QM_SHAPE_FEEDBACK_BUFFER_VERTICES), 0);
    qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, -1);
    qmHinti(QM_SHAPE_PERSISTENCE, 1);
    qmHinti(QM_SHAPE_PERSISTENCE, -1);  // the name is checked first
    expectErrors({QM_INVALID_VALUE, QM_INVALID_ENUM});
    EXPECT_EQ(integer(QM_SHAPE_FEEDBACK_BUFFER_VERTICES), 0);
    qmHintb(QM_SHAPE_PERSISTENCE, 2);
    qmHintb(QM_SHAPE_DYNAMIC_SURFACE_CHANGE, 1);
    expectNoError();
    qmHintb(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 1);
    expectErrors({QM_INVALID_ENUM});
}

TEST_F(QmAttributes, EnableAndDisable) {
    for (QMenum cap : {QM_PROXY_RESOLUTION, QM_HAPTIC_CAMERA_VIEW, QM_ADAPTIVE_VIEWPORT, QM_USE_GL_MODELVIEW}) {
        SCOPED_TRACE(qmtest::name(cap));
        qmEnable(cap);
        EXPECT_TRUE(qmIsEnabled(cap));
        qmDisable(cap);
        EXPECT_FALSE(qmIsEnabled(cap));
    }
    expectNoError();
}

// Unknown capabilities: the setters answer QM_INVALID_OPERATION, the query
// QM_INVALID_ENUM.
TEST_F(QmAttributes, UnknownCapability) {
    qmEnable(QM_STIFFNESS);
    expectErrors({QM_INVALID_OPERATION});
    qmDisable(QM_SHAPE_PERSISTENCE);
    expectErrors({QM_INVALID_OPERATION});
    EXPECT_FALSE(qmIsEnabled(QM_STIFFNESS));
    expectErrors({QM_INVALID_ENUM});
}

TEST_F(QmAttributes, PushedMaterialCapturesWritesUntilPopped) {
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.6f);
    qmPushAttrib(QM_MATERIAL_BIT);
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_STIFFNESS), 0.6f);  // reads see through
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.2f);
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_STIFFNESS), 0.2f);
    qmPopAttrib();
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_STIFFNESS), 0.6f);
    expectNoError();
}

// Each bit saves its own groups and nothing else.
TEST_F(QmAttributes, PushSavesOnlyTheNamedGroups) {
    struct Case {
        const char* what;
        QMbitfield mask;
        bool materialRestored;
        bool touchRestored;
        bool hintRestored;
        bool capabilityRestored;
    };
    const Case cases[] = {
        {"material", QM_MATERIAL_BIT, true, false, false, false},
        {"touch", QM_TOUCH_BIT, false, true, false, false},
        {"hint", QM_HINT_BIT, false, false, true, false},
        {"transform", QM_TRANSFORM_BIT, false, false, false, true},
        {"effect", QM_EFFECT_BIT, false, false, false, false},
        {"events", QM_EVENTS_BIT, false, false, false, false},
        {"all", 0x3F, true, true, true, true},
        {"unknown bits ignored", QM_TOUCH_BIT | 0x100, false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qmMaterialf(QM_BACK, QM_DAMPING, 0.1f);
        qmTouchModel(QM_CONTACT);
        qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 100);
        qmEnable(QM_USE_GL_MODELVIEW);
        qmPushAttrib(c.mask);
        qmMaterialf(QM_BACK, QM_DAMPING, 0.9f);
        qmTouchModel(QM_CONSTRAINT);
        qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 200);
        qmDisable(QM_USE_GL_MODELVIEW);
        qmPopAttrib();
        EXPECT_FLOAT_EQ(material(QM_BACK, QM_DAMPING), c.materialRestored ? 0.1f : 0.9f);
        EXPECT_EQ(integer(QM_TOUCH_MODEL), symbol(c.touchRestored ? QM_CONTACT : QM_CONSTRAINT));
        EXPECT_EQ(integer(QM_SHAPE_FEEDBACK_BUFFER_VERTICES), c.hintRestored ? 100 : 200);
        EXPECT_EQ(qmIsEnabled(QM_USE_GL_MODELVIEW), c.capabilityRestored ? QM_TRUE : QM_FALSE);
        expectNoError();
    }
}

TEST_F(QmAttributes, PushesNestAndPopsInOrder) {
    qmMaterialf(QM_FRONT, QM_POPTHROUGH, 0.1f);
    qmPushAttrib(QM_MATERIAL_BIT);
    qmMaterialf(QM_FRONT, QM_POPTHROUGH, 0.2f);
    qmPushAttrib(QM_MATERIAL_BIT | QM_TOUCH_BIT);
    qmMaterialf(QM_FRONT, QM_POPTHROUGH, 0.3f);
    qmPopAttrib();
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_POPTHROUGH), 0.2f);
    qmPopAttrib();
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_POPTHROUGH), 0.1f);
    qmPopAttrib();  // nothing pushed: silently nothing
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_POPTHROUGH), 0.1f);
    expectNoError();
}

TEST_F(QmAttributes, PushWithoutAKnownBitIsRefused) {
    qmPushAttrib(0);
    qmPushAttrib(0x40);
    expectErrors({QM_INVALID_VALUE});
    // Nothing was pushed: a write is not captured.
    qmMaterialf(QM_FRONT, QM_DAMPING, 0.5f);
    qmPopAttrib();
    EXPECT_FLOAT_EQ(material(QM_FRONT, QM_DAMPING), 0.5f);
}

TEST_F(QmAttributes, MatrixModeBelongsToTheTransformGroup) {
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmPushAttrib(QM_TRANSFORM_BIT);
    qmMatrixMode(QM_MODELVIEW);
    qmPopAttrib();
    // The touch-workspace stack is two deep: a second push overflows only
    // if the mode is QM_TOUCHWORKSPACE again.
    qmPushMatrix();
    expectNoError();
    qmPushMatrix();
    expectErrors({QM_STACK_OVERFLOW});
}

TEST_F(QmAttributes, WorkspaceBelongsToTheTransformGroup) {
    double before[6];
    qmGetDoublev(QM_WORKSPACE, before);
    qmPushAttrib(QM_TRANSFORM_BIT);
    qmWorkspace(before[0] / 2, before[1] / 2, before[2] / 2, before[3] / 2, before[4] / 2, before[5] / 2);
    double inside[6];
    qmGetDoublev(QM_WORKSPACE, inside);
    EXPECT_EQ(inside[3], before[3] / 2);
    qmPopAttrib();
    double after[6];
    qmGetDoublev(QM_WORKSPACE, after);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(after[i], before[i]);
    }
    expectNoError();
}

TEST_F(QmAttributes, GettersRefuseOtherNames) {
    struct Case {
        const char* what;
        void (*get)();
    };
    const Case cases[] = {
        {"a capability as a state",
         [] {
             QMboolean b = 5;
             qmGetBooleanv(QM_USE_GL_MODELVIEW, &b);
             EXPECT_EQ(b, 5);
         }},
        {"a boolean hint as an integer",
         [] {
             QMintptr i = 5;
             qmGetIntegerv(QM_SHAPE_PERSISTENCE, &i);
             EXPECT_EQ(i, 5);
         }},
        {"the touched face",
         [] {
             QMintptr i = 5;
             qmGetIntegerv(QM_TOUCHED_FACE, &i);
             EXPECT_EQ(i, 5);
         }},
        {"a float as doubles",
         [] {
             double d = 5;
             qmGetDoublev(QM_SNAP_DISTANCE, &d);
             EXPECT_EQ(d, 5);
         }},
        {"a symbol as doubles",
         [] {
             double d = 5;
             qmGetDoublev(QM_TOUCH_MODEL, &d);
             EXPECT_EQ(d, 5);
         }},
        {"a boolean as doubles",
         [] {
             double d = 5;
             qmGetDoublev(QM_PROXY_IS_TOUCHING, &d);
             EXPECT_EQ(d, 5);
         }},
        {"a name that holds nothing",
         [] {
             double d = 5;
             qmGetDoublev(QM_EVENT_TOUCH, &d);
             EXPECT_EQ(d, 5);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.get();
        expectErrors({QM_INVALID_ENUM});
    }
}

// A null output is refused once the name is known, and nothing is written.
TEST_F(QmAttributes, NullOutputsAreRefused) {
    qmGetMaterialfv(QM_FRONT, QM_STIFFNESS, nullptr);
    expectErrors({QM_INVALID_VALUE});
    qmGetBooleanv(QM_BUTTON1_STATE, nullptr);
    expectErrors({QM_INVALID_VALUE});
    qmGetIntegerv(QM_TOUCH_MODEL, nullptr);
    expectErrors({QM_INVALID_VALUE});
    for (QMenum name :
         {QM_VIEWTOUCH_MATRIX, QM_WORKSPACE, QM_PROXY_POSITION, QM_GOLDEN_RADIUS, QM_EVENT_MOTION_LINEAR_TOLERANCE}) {
        qmGetDoublev(name, nullptr);
        expectErrors({QM_INVALID_VALUE});
    }
    qmGetDoublev(QM_STIFFNESS, nullptr);
    expectErrors({QM_INVALID_ENUM});
}

}  // namespace
