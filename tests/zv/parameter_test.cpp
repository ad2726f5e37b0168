// Every parameter and capability code through every typed call.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "zv_test_support.h"

namespace zvtest {
namespace {

// Type bits of the typed calls.
enum : int { D = 0x01, B = 0x02, I = 0x04, F = 0x08, L = 0x10, S = 0x20 };
constexpr int DFIL = D | F | I | L;
constexpr int DFI = D | F | I;
constexpr int kDof = -1;  // the device's output degrees of freedom

struct Code {
    ZVenum code;
    int getMask;  // 0: not readable
    int setMask;  // 0: not writable
    int count;    // values exchanged (kDof: 3 or 6 by model)
};

const Code kCodes[] = {
    {ZV_CURRENT_BUTTONS, DFIL, 0, 1},
    {ZV_LAST_BUTTONS, DFIL, 0, 1},
    {ZV_CURRENT_SAFETY_SWITCH, B, 0, 1},
    {ZV_LAST_SAFETY_SWITCH, B, 0, 1},
    {ZV_CURRENT_INKWELL_SWITCH, B, 0, 1},
    {ZV_LAST_INKWELL_SWITCH, B, 0, 1},
    {ZV_CURRENT_ENCODER_VALUES, L, 0, 6},
    {ZV_LAST_ENCODER_VALUES, L, 0, 6},
    {ZV_CURRENT_PINCH_VALUE, DFIL, 0, 1},
    {ZV_LAST_PINCH_VALUE, DFIL, 0, 1},
    {ZV_CURRENT_POSITION, DFIL, 0, 3},
    {ZV_LAST_POSITION, DFIL, 0, 3},
    {ZV_CURRENT_VELOCITY, DFIL, 0, 3},
    {ZV_LAST_VELOCITY, DFIL, 0, 3},
    {ZV_CURRENT_TRANSFORM, DFIL, 0, 16},
    {ZV_LAST_TRANSFORM, DFIL, 0, 16},
    {ZV_CURRENT_ANGULAR_VELOCITY, DFIL, 0, 3},
    {ZV_LAST_ANGULAR_VELOCITY, DFIL, 0, 3},
    {ZV_CURRENT_JACOBIAN, DFIL, 0, 36},
    {ZV_LAST_JACOBIAN, DFIL, 0, 36},
    {ZV_CURRENT_JOINT_ANGLES, DFIL, 0, 3},
    {ZV_LAST_JOINT_ANGLES, DFIL, 0, 3},
    {ZV_CURRENT_GIMBAL_ANGLES, DFIL, 0, 3},
    {ZV_LAST_GIMBAL_ANGLES, DFIL, 0, 3},
    {ZV_CURRENT_FORCE, DFI, DFI, 3},
    {ZV_LAST_FORCE, DFI, 0, 3},
    {ZV_CURRENT_TORQUE, DFI, DFI, 3},
    {ZV_LAST_TORQUE, DFI, 0, 3},
    {ZV_CURRENT_MOTOR_DAC_VALUES, L, L, kDof},
    {ZV_LAST_MOTOR_DAC_VALUES, L, 0, kDof},
    {ZV_VERSION, S, 0, 1},
    {ZV_DEVICE_MODEL_TYPE, S, 0, 1},
    {ZV_DEVICE_DRIVER_VERSION, S, 0, 1},
    {ZV_DEVICE_VENDOR, S, 0, 1},
    {ZV_DEVICE_SERIAL_NUMBER, S, 0, 1},
    {ZV_DEVICE_HARDWARE_REVISION, DFIL, 0, 1},
    {ZV_USABLE_WORKSPACE_DIMENSIONS, DFIL, 0, 6},
    {ZV_MAX_WORKSPACE_DIMENSIONS, DFIL, 0, 6},
    {ZV_TABLETOP_OFFSET, DFIL, 0, 1},
    {ZV_INPUT_DOF, DFIL, 0, 1},
    {ZV_OUTPUT_DOF, DFIL, 0, 1},
    {ZV_CALIBRATION_STYLE, I, 0, 1},
    {ZV_UPDATE_RATE, DFIL, 0, 1},
    {ZV_INSTANTANEOUS_UPDATE_RATE, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_STIFFNESS, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_FORCE, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_CONTINUOUS_FORCE, DFIL, 0, 1},
    {ZV_MOTOR_TEMPERATURE, DFIL, 0, kDof},
    {ZV_MAX_VELOCITY_LIMIT, D | F, DFIL, 1},
    {ZV_MAX_FORCE_IMPULSE_LIMIT, D | F, DFIL, 1},
    {ZV_FORCE_RAMPING_RATE, DFIL, DFIL, 1},
    {ZV_NOMINAL_MAX_DAMPING, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_STIFFNESS, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_DAMPING, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_FORCE, DFIL, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_CONTINUOUS_FORCE, DFIL, 0, 1},
    {ZV_JOINT_ANGLE_REFERENCES, 0, DFI, 3},
    {ZV_USER_STATUS_LIGHT, I, I, 1},
    {ZV_RAW_FORCE_CLEAR, D, 0, 3},
    {ZV_RAW_TORQUE_CLEAR, D, 0, 3},
    {ZV_RAW_POSITION, D, 0, 3},
    {ZV_RAW_VELOCITY, D, 0, 3},
    {ZV_RAW_ANGULAR_VELOCITY, D, 0, 3},
    {ZV_RAW_BUTTONS, I, 0, 1},
    {ZV_RAW_JOINT_ANGLES, D, 0, 3},
    {ZV_RAW_GIMBAL_ANGLES, D, 0, 3},
    {ZV_RAW_ENCODER_VALUES, L, 0, 6},
    {ZV_RAW_TRANSFORM, D, 0, 16},
    {ZV_RAW_MOTOR_DAC_CLEAR, L, 0, 6},
    {ZV_RAW_SAFETY_SWITCH, I, 0, 1},
    {ZV_RAW_INKWELL_SWITCH, I, 0, 1},
    {ZV_RAW_JACOBIAN, D, 0, 36},
    {ZV_RAW_PINCH_VALUE, D, 0, 1},
    // Codes of nothing at all, next to real ones.
    {0x0000, 0, 0, 0},
    {0x2003, 0, 0, 0},
    {0x2506, 0, 0, 0},
    {0x2703, 0, 0, 0},
    {0x4000, 0, 0, 0},  // a capability, not a parameter
    {0x9903, 0, 0, 0},
    {0x9909, 0, 0, 0},
    {0x9911, 0, 0, 0},
    {0xFFFFFFFF, 0, 0, 0},
};

struct Model {
    const char* name;
    int outputDof;
    int inputDof;
};

void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

const Model kModels[] = {{"Korvo Arm 3G", 3, 6}, {"Korvo Arm 6", 6, 6}, {"Korvo Mini", 3, 3}};

constexpr int kSlots = 64;
constexpr std::uint8_t kFill = 0xA5;

// A buffer filled with a byte pattern that no value the library writes can
// leave behind unchanged in every byte of an element.
struct Buffer {
    alignas(8) std::uint8_t bytes[kSlots * 8];
    Buffer() { std::memset(bytes, kFill, sizeof bytes); }
    template <class T>
    T* as() {
        return reinterpret_cast<T*>(bytes);
    }
    // Elements of `size` bytes that differ from the fill pattern.
    std::set<int> written(std::size_t size) const {
        std::set<int> indices;
        for (int i = 0; i < kSlots; ++i) {
            for (std::size_t b = 0; b < size; ++b) {
                if (bytes[i * size + b] != kFill) {
                    indices.insert(i);
                    break;
                }
            }
        }
        return indices;
    }
};

struct TypedCall {
    int bit;
    std::size_t size;
    const char* name;
    void (*get)(ZVenum, void*);
    void (*set)(ZVenum, const void*);
};

const TypedCall kCalls[] = {
    {B, sizeof(ZVboolean), "boolean", [](ZVenum c, void* p) { zvGetBooleanv(c, static_cast<ZVboolean*>(p)); },
     [](ZVenum c, const void* p) { zvSetBooleanv(c, static_cast<const ZVboolean*>(p)); }},
    {I, sizeof(ZVint), "int", [](ZVenum c, void* p) { zvGetIntegerv(c, static_cast<ZVint*>(p)); },
     [](ZVenum c, const void* p) { zvSetIntegerv(c, static_cast<const ZVint*>(p)); }},
    {F, sizeof(ZVfloat), "float", [](ZVenum c, void* p) { zvGetFloatv(c, static_cast<ZVfloat*>(p)); },
     [](ZVenum c, const void* p) { zvSetFloatv(c, static_cast<const ZVfloat*>(p)); }},
    {D, sizeof(ZVdouble), "double", [](ZVenum c, void* p) { zvGetDoublev(c, static_cast<ZVdouble*>(p)); },
     [](ZVenum c, const void* p) { zvSetDoublev(c, static_cast<const ZVdouble*>(p)); }},
    {L, sizeof(ZVlong), "long", [](ZVenum c, void* p) { zvGetLongv(c, static_cast<ZVlong*>(p)); },
     [](ZVenum c, const void* p) { zvSetLongv(c, static_cast<const ZVlong*>(p)); }},
};

// A harmless value to write for each settable code.
double writeValue(ZVenum code) {
    switch (code) {
    case ZV_MAX_VELOCITY_LIMIT: return 600;
    case ZV_MAX_FORCE_IMPULSE_LIMIT: return 4;
    case ZV_FORCE_RAMPING_RATE: return 3;
    case ZV_USER_STATUS_LIGHT: return 1;
    case ZV_CURRENT_MOTOR_DAC_VALUES: return 100;
    case ZV_JOINT_ANGLE_REFERENCES: return 0;
    default: return 0.25;
    }
}

void fill(Buffer& buffer, const TypedCall& call, double value) {
    for (int i = 0; i < kSlots; ++i) {
        switch (call.bit) {
        case B: buffer.as<ZVboolean>()[i] = static_cast<ZVboolean>(value); break;
        case I: buffer.as<ZVint>()[i] = static_cast<ZVint>(value); break;
        case F: buffer.as<ZVfloat>()[i] = static_cast<ZVfloat>(value); break;
        case D: buffer.as<ZVdouble>()[i] = value; break;
        default: buffer.as<ZVlong>()[i] = static_cast<ZVlong>(value); break;
        }
    }
}

class ParameterTable : public DeviceTest, public ::testing::WithParamInterface<Model> {
protected:
    ParameterTable() : DeviceTest(GetParam().name) {}

    int countOf(const Code& c) const { return c.count == kDof ? GetParam().outputDof : c.count; }
};

// Reads: an unknown code is ZV_INVALID_ENUM, a type outside the mask
// ZV_INVALID_INPUT_TYPE (nothing written in either case), and a supported type
// writes exactly the code's value count.
TEST_P(ParameterTable, EveryCodeAnswersEveryTypedGet) {
    frame();
    frame();
    drainErrors();
    for (const Code& c : kCodes) {
        for (const TypedCall& call : kCalls) {
            SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << c.code << " as " << call.name);
            Buffer buffer;
            call.get(c.code, buffer.as<void>());
            const std::vector<ZVerror> errors = drainCodes();
            if (c.getMask == 0) {
                EXPECT_EQ(errors, std::vector<ZVerror>{ZV_INVALID_ENUM});
                EXPECT_TRUE(buffer.written(call.size).empty());
            } else if ((c.getMask & call.bit) == 0) {
                EXPECT_EQ(errors, std::vector<ZVerror>{ZV_INVALID_INPUT_TYPE});
                EXPECT_TRUE(buffer.written(call.size).empty());
            } else {
                EXPECT_EQ(errors, std::vector<ZVerror>{});
                const std::set<int> written = buffer.written(call.size);
                ASSERT_FALSE(written.empty());
                EXPECT_LT(*written.rbegin(), countOf(c));
            }
        }
        const ZVstring text = zvGetString(c.code);
        if (c.getMask == S) {
            ASSERT_NE(text, nullptr) << std::hex << c.code;
            EXPECT_GT(std::strlen(text), 0u);
            EXPECT_TRUE(drainErrors().empty());
        } else {
            EXPECT_EQ(text, nullptr);
            EXPECT_EQ(drainCodes(), std::vector<ZVerror>{static_cast<ZVerror>(c.getMask == 0 ? ZV_INVALID_ENUM
                                                                                             : ZV_INVALID_INPUT_TYPE)})
                << std::hex << c.code;
        }
    }
}

// Writes: the same refusals, no boolean write anywhere, and accepted writes
// raise nothing (output values inside a frame).
TEST_P(ParameterTable, EveryCodeAnswersEveryTypedSet) {
    for (const Code& c : kCodes) {
        for (const TypedCall& call : kCalls) {
            SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << c.code << " as " << call.name);
            Buffer buffer;
            fill(buffer, call, writeValue(c.code));
            const bool output =
                c.code == ZV_CURRENT_FORCE || c.code == ZV_CURRENT_TORQUE || c.code == ZV_CURRENT_MOTOR_DAC_VALUES;
            if (output) {
                frame([&] { call.set(c.code, buffer.as<void>()); });
            } else {
                call.set(c.code, buffer.as<void>());
            }
            const std::vector<ZVerror> errors = drainCodes();
            if (c.setMask == 0) {
                EXPECT_EQ(errors, std::vector<ZVerror>{ZV_INVALID_ENUM});
            } else if ((c.setMask & call.bit) == 0) {
                EXPECT_EQ(errors, std::vector<ZVerror>{ZV_INVALID_INPUT_TYPE});
            } else {
                EXPECT_EQ(errors, std::vector<ZVerror>{});
            }
        }
    }
}

TEST_P(ParameterTable, DeviceFactsFollowTheModel) {
    double dof[2] = {};
    zvGetDoublev(ZV_OUTPUT_DOF, &dof[0]);
    zvGetDoublev(ZV_INPUT_DOF, &dof[1]);
    EXPECT_EQ(dof[0], GetParam().outputDof);
    EXPECT_EQ(dof[1], GetParam().inputDof);
    double workspace[6];
    zvGetDoublev(ZV_USABLE_WORKSPACE_DIMENSIONS, workspace);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_LT(workspace[axis], 0.0) << "low x, y, z first";
        EXPECT_GT(workspace[axis + 3], 0.0) << "then high x, y, z";
    }
    EXPECT_STREQ(zvGetString(ZV_DEVICE_MODEL_TYPE), GetParam().name);
    EXPECT_STREQ(zvGetString(ZV_VERSION), "2.00.23");
    EXPECT_TRUE(drainErrors().empty());
}

// Capabilities: the eight codes answer all three calls; nothing else does.
TEST_P(ParameterTable, CapabilitiesSwitchAndReport) {
    const ZVenum capabilities[] = {ZV_FORCE_OUTPUT,    ZV_MAX_FORCE_CLAMPING, ZV_FORCE_RAMPING,          ZV_FORCE_CHECK,
                                   ZV_ONE_FRAME_LIMIT, ZV_MAX_VELOCITY_LIMIT, ZV_MAX_FORCE_IMPULSE_LIMIT};
    for (ZVenum cap : capabilities) {
        zvEnable(cap);
        EXPECT_EQ(zvIsEnabled(cap), ZV_TRUE) << std::hex << cap;
        zvDisable(cap);
        EXPECT_EQ(zvIsEnabled(cap), ZV_FALSE) << std::hex << cap;
        zvEnable(cap);
        EXPECT_EQ(zvIsEnabled(cap), ZV_TRUE) << std::hex << cap;
    }
    zvEnable(ZV_USER_STATUS_LIGHT);
    zvDisable(ZV_USER_STATUS_LIGHT);
    zvIsEnabled(ZV_USER_STATUS_LIGHT);
    EXPECT_TRUE(drainErrors().empty());
    for (ZVenum code : {ZVenum{ZV_CURRENT_POSITION}, ZVenum{ZV_VERSION}, ZVenum{0x4005}, ZVenum{0x2700}, ZVenum{0}}) {
        zvEnable(code);
        EXPECT_EQ(drainCodes(), std::vector<ZVerror>{ZV_INVALID_ENUM}) << std::hex << code;
        zvDisable(code);
        EXPECT_EQ(drainCodes(), std::vector<ZVerror>{ZV_INVALID_ENUM}) << std::hex << code;
        EXPECT_EQ(zvIsEnabled(code), ZV_FALSE);
        EXPECT_EQ(drainCodes(), std::vector<ZVerror>{ZV_INVALID_ENUM}) << std::hex << code;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, ParameterTable, ::testing::ValuesIn(kModels),
                         [](const ::testing::TestParamInfo<Model>& info) {
                             std::string name = info.param.name;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

// ---------------------------------------------------------------- conversions

class Conversions : public DeviceTest {};

// Integers truncate toward zero, floats round to nearest.
TEST_F(Conversions, NumericReadsTruncateOrRound) {
    const double where[3] = {12.75, -3.9, -0.6};
    ASSERT_EQ(korvo_sim_place_stylus(device, where), 0);
    frame();
    for (ZVenum code : {ZV_CURRENT_POSITION, ZV_CURRENT_JACOBIAN, ZV_CURRENT_TRANSFORM}) {
        const int count = code == ZV_CURRENT_JACOBIAN ? 36 : code == ZV_CURRENT_TRANSFORM ? 16 : 3;
        double d[36];
        ZVfloat f[36];
        ZVint i[36];
        ZVlong l[36];
        zvGetDoublev(code, d);
        zvGetFloatv(code, f);
        zvGetIntegerv(code, i);
        zvGetLongv(code, l);
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(f[k], static_cast<float>(d[k])) << std::hex << code << " [" << k << "]";
            EXPECT_EQ(i[k], static_cast<int>(std::trunc(d[k]))) << std::hex << code << " [" << k << "]";
            EXPECT_EQ(l[k], i[k]);
        }
    }
    ZVint position[3];
    zvGetIntegerv(ZV_CURRENT_POSITION, position);
    EXPECT_EQ(position[0], 12);
    EXPECT_EQ(position[1], -3);
    EXPECT_EQ(position[2], 0);
    EXPECT_TRUE(drainErrors().empty());
}

// The 36 Jacobian values are converted completely and nothing beyond them is
// touched, in every numeric type.
TEST_F(Conversions, TheJacobianConvertsAllThirtySixValues) {
    frame();
    double reference[36];
    zvGetDoublev(ZV_CURRENT_JACOBIAN, reference);
    ASSERT_NE(std::count(reference, reference + 36, 0.0), 36);
    for (const TypedCall& call : kCalls) {
        if (call.bit == B) {
            continue;
        }
        Buffer buffer;
        call.get(ZV_CURRENT_JACOBIAN, buffer.as<void>());
        const std::set<int> written = buffer.written(call.size);
        ASSERT_FALSE(written.empty()) << call.name;
        EXPECT_LE(*written.rbegin(), 35) << call.name;
        for (int k = 0; k < 36; ++k) {
            double value = 0;
            switch (call.bit) {
            case I: value = buffer.as<ZVint>()[k]; break;
            case F: value = buffer.as<ZVfloat>()[k]; break;
            case D: value = buffer.as<ZVdouble>()[k]; break;
            default: value = buffer.as<ZVlong>()[k]; break;
            }
            EXPECT_NEAR(value, reference[k], 1.0) << call.name << " [" << k << "]";
        }
    }
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Conversions, WritesConvertExactlyToDoubles) {
    const ZVint asInt = 640;
    zvSetIntegerv(ZV_MAX_VELOCITY_LIMIT, &asInt);
    double readBack = 0;
    zvGetDoublev(ZV_MAX_VELOCITY_LIMIT, &readBack);
    EXPECT_EQ(readBack, 640.0);
    const ZVfloat asFloat = 512.5f;
    zvSetFloatv(ZV_MAX_VELOCITY_LIMIT, &asFloat);
    zvGetDoublev(ZV_MAX_VELOCITY_LIMIT, &readBack);
    EXPECT_EQ(readBack, 512.5);
    frame([] {
        const ZVint force[3] = {1, -2, 0};
        zvSetIntegerv(ZV_CURRENT_FORCE, force);
        double d[3];
        zvGetDoublev(ZV_CURRENT_FORCE, d);
        EXPECT_EQ(d[0], 1.0);
        EXPECT_EQ(d[1], -2.0);
        EXPECT_EQ(d[2], 0.0);
    });
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Conversions, ValuesBeyondTheIntegerRangeSaturate) {
    frame([] {
        const double force[3] = {3e9, -3e9, 0.5};
        zvSetDoublev(ZV_CURRENT_FORCE, force);
        ZVint i[3];
        zvGetIntegerv(ZV_CURRENT_FORCE, i);
        EXPECT_EQ(i[0], std::numeric_limits<ZVint>::max());
        EXPECT_EQ(i[1], std::numeric_limits<ZVint>::min());
        EXPECT_EQ(i[2], 0);
    });
    EXPECT_TRUE(drainErrors().empty());
}

}  // namespace
}  // namespace zvtest
