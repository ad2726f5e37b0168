// The attribute state: every default, the groups, result maps.
#include <cfloat>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "qm/api/Symbols.h"
#include "qm/state/AttributeGroups.h"
#include "qm/state/State.h"

namespace {

using QM::AttribCallback;
using QM::AttributeMap;
using QM::State;

using Array = std::vector<double>;
struct Unset {};
using Value = std::variant<float, double, std::int32_t, bool, QMenum, void*, AttribCallback, Array, Unset>;

struct Default {
    QMenum* key;
    Value value;
    int arrayCount = 0;  // for arrays declared without a value
};

void expectValue(const QM::IAttributeMap& map, QMenum key, const Value& value, int arrayCount) {
    SCOPED_TRACE(std::string(key != nullptr ? key : "(null)"));
    ASSERT_TRUE(map.has(key));
    if (std::holds_alternative<Unset>(value)) {
        EXPECT_FALSE(map.isSet(key));
        EXPECT_EQ(map.describe(key)->count, arrayCount);
        return;
    }
    ASSERT_TRUE(map.isSet(key));
    std::visit(
        [&](const auto& expected) {
            using T = std::decay_t<decltype(expected)>;
            if constexpr (std::is_same_v<T, Array>) {
                std::vector<double> actual(expected.size());
                ASSERT_EQ(map.describe(key)->count, static_cast<int>(expected.size()));
                ASSERT_TRUE(map.getArray<double>(key, actual.data()));
                EXPECT_EQ(actual, expected);
            } else if constexpr (!std::is_same_v<T, Unset>) {
                T actual{};
                ASSERT_TRUE(map.get<T>(key, actual));
                EXPECT_EQ(actual, expected);
            }
        },
        value);
}

const Array kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Keys are read through their variables at run time, after the library has
// loaded.
std::vector<Default> defaults() {
    using namespace QM;
    return {
        // shape groups
        {&QM_INT_FRONT_FACE_STIFFNESS, 0.8f},
        {&QM_INT_BACK_FACE_STIFFNESS, 0.8f},
        {&QM_INT_FRONT_FACE_DAMPING, 0.0f},
        {&QM_INT_FRONT_FACE_STATIC_FRICTION, 0.0f},
        {&QM_INT_FRONT_FACE_DYNAMIC_FRICTION, 0.0f},
        {&QM_INT_FRONT_FACE_POPTHROUGH, 0.0f},
        {&QM_INT_BACK_FACE_DAMPING, 0.0f},
        {&QM_INT_BACK_FACE_STATIC_FRICTION, 0.0f},
        {&QM_INT_BACK_FACE_DYNAMIC_FRICTION, 0.0f},
        {&QM_INT_BACK_FACE_POPTHROUGH, 0.0f},
        {&QM_INT_SHAPEWORKSPACE_MATRIX, Unset{}, 16},
        {&QM_INT_WORKSPACESHAPE_MATRIX, Unset{}, 16},
        {&QM_HAPTIC_CAMERA_VIEW, false},
        {&QM_ADAPTIVE_VIEWPORT, false},
        {&QM_PROXY_IS_TOUCHING, false},
        {&QM_PROXY_TOUCH_NORMAL, Array{0, 0, 0}},
        {&QM_REACTION_FORCE, Array{0, 0, 0}},
        {&QM_TOUCHABLE_FACE, QM_FRONT},
        {&QM_TOUCHED_FACE, QM_FRONT},
        {&QM_TOUCH_MODEL, QM_CONTACT},
        {&QM_SNAP_DISTANCE, FLT_MAX},
        {&QM_INT_FRONT_FACE, QM_CCW},
        {&QM_SHAPE_INTERSECT_LS, AttribCallback{}},
        {&QM_SHAPE_CLOSEST_FEATURES, AttribCallback{}},
        {&QM_INT_SHAPE_INTERSECT_LS_USER_DATA, static_cast<void*>(nullptr)},
        {&QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA, static_cast<void*>(nullptr)},
        {&QM_SHAPE_FEEDBACK_BUFFER_VERTICES, std::int32_t{65536}},
        {&QM_SHAPE_DYNAMIC_SURFACE_CHANGE, false},
        {&QM_SHAPE_PERSISTENCE, false},
        {&QM_INT_USE_IN_FAST_LOOP, true},
        {&QM_INT_REPORT_COLLISIONS, true},
        // effect groups
        {&QM_EFFECT_PROPERTY_GAIN, 0.0},
        {&QM_EFFECT_PROPERTY_MAGNITUDE, 0.0},
        {&QM_EFFECT_PROPERTY_DURATION, 1000.0},
        {&QM_INT_EFFECT_IS_DONE, false},
        {&QM_INT_EFFECT_WAS_TRIGGERED, false},
        {&QM_INT_EFFECT_TIME, 0.0},
        {&QM_EFFECT_PROPERTY_POSITION, Array{0, 0, 0}},
        {&QM_EFFECT_PROPERTY_DIRECTION, Array{0, 1, 0}},
        {&QM_EFFECT_PROPERTY_FREQUENCY, 0.0},
        {&QM_EFFECT_COMPUTE_FORCE, AttribCallback{}},
        {&QM_EFFECT_START, AttribCallback{}},
        {&QM_EFFECT_STOP, AttribCallback{}},
        {&QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, static_cast<void*>(nullptr)},
        {&QM_INT_EFFECT_START_USER_DATA, static_cast<void*>(nullptr)},
        {&QM_INT_EFFECT_STOP_USER_DATA, static_cast<void*>(nullptr)},
        // view group
        {&QM_USE_GL_MODELVIEW, true},
        {&QM_INT_HAPTIC_CAMERA_VIEW_POSITION, Array{0, 0, 0}},
        {&QM_INT_HAPTIC_CAMERA_VIEW_LAST_POSITION, Array{0, 0, 0}},
        {&QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION, Array{0, 0, 0}},
        {&QM_INT_HAPTIC_CAMERA_VIEW_MOTION_THRESHOLD, 0.0},
        {&QM_WORKSPACE, Unset{}, 6},
        {&QM_INT_MATRIX_MODE, std::int32_t{0}},
        // state group
        {&QM_PROXY_POSITION, Array{0, 0, 0}},
        {&QM_DEVICE_POSITION, Array{0, 0, 0}},
        {&QM_PROXY_ROTATION, Array{1, 0, 0, 0}},
        {&QM_DEVICE_ROTATION, Array{1, 0, 0, 0}},
        {&QM_PROXY_TRANSFORM, kIdentity},
        {&QM_DEVICE_TRANSFORM, kIdentity},
        {&QM_MAX_WORKSPACE_DIMS, Array{-DBL_MAX, -DBL_MAX, -DBL_MAX, DBL_MAX, DBL_MAX, DBL_MAX}},
        {&QM_DEVICE_FORCE, Array{0, 0, 0}},
        {&QM_DEVICE_TORQUE, Array{0, 0, 0}},
        {&QM_BUTTON1_STATE, false},
        {&QM_BUTTON2_STATE, false},
        {&QM_BUTTON3_STATE, false},
        {&QM_SAFETY_STATE, false},
        {&QM_INKWELL_STATE, false},
        {&QM_EVENT_MOTION_LINEAR_TOLERANCE, 1.0},
        {&QM_EVENT_MOTION_ANGULAR_TOLERANCE, 0.02},
        {&QM_GOLDEN_POSITION, Array{0, 0, 0}},
        {&QM_GOLDEN_RADIUS, 30.0},
        {&QM_PROXY_RESOLUTION, true},
    };
}

TEST(QmState, EveryDefault) {
    State state;
    const auto table = defaults();
    for (const Default& d : table) {
        expectValue(state.getAttributes(), *d.key, d.value, d.arrayCount);
    }
    EXPECT_EQ(state.getAttributes().depth(), 1u);
}

// Declaring a group without defaults declares the same keys, all unset.
TEST(QmState, GroupsWithoutDefaultsDeclareTheSameKeysUnset) {
    AttributeMap withDefaults;
    AttributeMap without;
    QM::declareShapeGroups(withDefaults, 255, true);
    QM::declareEffectGroups(withDefaults, 255, true);
    QM::declareViewGroup(withDefaults, 1, true);
    QM::declareStateGroup(withDefaults, 1, true);
    QM::declareShapeGroups(without, 255, false);
    QM::declareEffectGroups(without, 255, false);
    QM::declareViewGroup(without, 1, false);
    QM::declareStateGroup(without, 1, false);
    EXPECT_EQ(withDefaults.size(), without.size());
    for (auto it = without.keys(); !it->atEnd(); it->advance()) {
        EXPECT_FALSE(without.isSet(it->current())) << it->current();
        EXPECT_TRUE(withDefaults.has(it->current())) << it->current();
    }
}

TEST(QmState, GroupMasksSelectTheirKeys) {
    struct Case {
        const char* what;
        void (*declare)(QM::IAttributeMap&, unsigned, bool);
        unsigned mask;
        QMenum* present;
        QMenum* absent;
    };
    using namespace QM;
    const Case cases[] = {
        {"material", declareShapeGroups, kShapeMaterial, &QM_INT_BACK_FACE_POPTHROUGH, &QM_TOUCH_MODEL},
        {"touch", declareShapeGroups, kShapeTouch, &QM_INT_FRONT_FACE, &QM_SHAPE_PERSISTENCE},
        {"hints", declareShapeGroups, kShapeHints, &QM_SHAPE_PERSISTENCE, &QM_INT_USE_IN_FAST_LOOP},
        {"collision", declareShapeGroups, kShapeCollision, &QM_INT_REPORT_COLLISIONS, &QM_SHAPE_INTERSECT_LS},
        {"effect base", declareEffectGroups, kEffectBase, &QM_INT_EFFECT_TIME, &QM_EFFECT_PROPERTY_POSITION},
        {"effect frequency", declareEffectGroups, kEffectFrequency, &QM_EFFECT_PROPERTY_FREQUENCY,
         &QM_EFFECT_PROPERTY_GAIN},
        {"no view", declareViewGroup, 0, &QM_STIFFNESS, &QM_INT_MATRIX_MODE},
        {"no state", declareStateGroup, 0, &QM_STIFFNESS, &QM_PROXY_RESOLUTION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AttributeMap map;
        c.declare(map, c.mask, false);
        if (c.mask != 0) {
            EXPECT_TRUE(map.has(*c.present));
        } else {
            EXPECT_EQ(map.size(), 0u);
        }
        EXPECT_FALSE(map.has(*c.absent));
    }
}

TEST(QmState, ResultMaps) {
    State state;
    EXPECT_EQ(state.findResultMap(4), nullptr);
    AttributeMap& created = state.resultMapFor(4);
    EXPECT_EQ(state.findResultMap(4), &created);
    EXPECT_EQ(&state.resultMapFor(4), &created);
    expectValue(created, QM_PROXY_IS_TOUCHING, false, 0);
    expectValue(created, QM_REACTION_FORCE, Array{0, 0, 0}, 0);
    // The touched face is declared too, unset until a touch.
    EXPECT_EQ(created.size(), 3u);
    EXPECT_TRUE(created.has(QM_TOUCHED_FACE));
    EXPECT_FALSE(created.isSet(QM_TOUCHED_FACE));
    created.set<bool>(QM_PROXY_IS_TOUCHING, true);
    EXPECT_EQ(&state.resultMapFor(4), &created);
    bool touching = false;
    state.findResultMap(4)->get<bool>(QM_PROXY_IS_TOUCHING, touching);
    EXPECT_TRUE(touching);
    state.eraseResultMap(4);
    EXPECT_EQ(state.findResultMap(4), nullptr);
    state.eraseResultMap(4);
}

TEST(QmState, MaterialKeys) {
    using namespace QM;
    EXPECT_EQ(materialKey(QM_FRONT, QM_STIFFNESS), QM_INT_FRONT_FACE_STIFFNESS);
    EXPECT_EQ(materialKey(QM_BACK, QM_POPTHROUGH), QM_INT_BACK_FACE_POPTHROUGH);
    EXPECT_EQ(materialKey(QM_BACK, QM_STATIC_FRICTION), QM_INT_BACK_FACE_STATIC_FRICTION);
    EXPECT_EQ(materialKey(QM_FRONT, QM_DYNAMIC_FRICTION), QM_INT_FRONT_FACE_DYNAMIC_FRICTION);
    EXPECT_EQ(materialKey(QM_FRONT_AND_BACK, QM_STIFFNESS), nullptr);
    EXPECT_EQ(materialKey(QM_FRONT, QM_SNAP_DISTANCE), nullptr);
    EXPECT_EQ(materialKey(nullptr, nullptr), nullptr);
}

}  // namespace
