// The parameter and capability registry behind the typed get/set calls.
#pragma once

#include <cstdint>
#include <map>

#include "zv/DeviceState.h"

namespace zv {

// Value types of the typed calls, as bits of a type mask.
enum ValueType : std::int32_t {
    kDouble = 0x01,
    kBoolean = 0x02,
    kInt = 0x04,
    kFloat = 0x08,
    kLong = 0x10,
    kString = 0x20,
};

// Which frame record an accessor works on: reads of snapshot values take the
// current or the last record; writes and capability calls take none.
enum RecordSelector : std::int32_t { kCurrentRecord = 0, kLastRecord = 1, kNoRecord = 2 };

// Reads or writes one parameter of a device (null for parameters that need
// none). `selector` is a RecordSelector. Returns a ZVerror.
using Accessor = ZVerror (*)(IDeviceState* device, void* out, const void* in, std::int32_t selector);

struct ParameterEntry {
    std::int32_t slotSelector = 0;
    std::int32_t valueCount = 1;  // kOutputDofCount: the device's output DOF
    std::int32_t typeMask = 0;
    Accessor accessor = nullptr;
    bool needsDevice = true;
};

constexpr std::int32_t kOutputDofCount = -1;
// The largest value count of any parameter (the 6x6 Jacobian).
constexpr std::int32_t kMaxValueCount = 36;

// Dispatch of the typed calls.
//
// A get looks the code up, checks the type against the entry's mask, the
// array pointer and the device, then calls the accessor: directly with the
// caller's array when the parameter is not double-native or the caller reads
// doubles, otherwise through a per-call conversion buffer of kMaxValueCount
// doubles that is then converted into the caller's type. A set converts the
// other way before the accessor runs and refuses values that are not finite
// (in single precision, which is what reaches the device) before anything is
// stored.
//
// Every call returns its argument refusal (ZV_INVALID_ENUM,
// ZV_INVALID_INPUT_TYPE, ZV_INVALID_VALUE, ZV_BAD_HANDLE, and the device's
// failure to report its output DOF) rather than throwing it, since the calls
// run in servo callbacks; failures of the device access itself are raised.
class IFunctionState {
public:
    virtual ~IFunctionState() = default;
    virtual ZVerror get(ZVenum code, ValueType type, void* out) = 0;
    virtual ZVerror set(ZVenum code, ValueType type, const void* in) = 0;
    virtual ZVerror getString(ZVenum code, ZVstring& text) = 0;
    virtual ZVerror enable(ZVenum code) = 0;
    virtual ZVerror disable(ZVenum code) = 0;
    virtual ZVerror isEnabled(ZVenum code, ZVboolean& state) = 0;
};

class ZVFunctionState : public IFunctionState {
public:
    ZVFunctionState();

    ZVerror get(ZVenum code, ValueType type, void* out) override;
    ZVerror set(ZVenum code, ValueType type, const void* in) override;
    ZVerror getString(ZVenum code, ZVstring& text) override;
    ZVerror enable(ZVenum code) override;
    ZVerror disable(ZVenum code) override;
    ZVerror isEnabled(ZVenum code, ZVboolean& state) override;

private:
    using Map = std::map<ZVenum, ParameterEntry>;

    // The entry of a code, or null.
    static const ParameterEntry* lookup(const Map& map, ZVenum code);
    ZVerror capability(const Map& map, ZVenum code, void* out);

    Map get_;
    Map set_;
    Map disable_;
    Map enable_;
    Map isEnabled_;
};

IFunctionState& functionState();

// The calibration styles the device supports (ZV_CALIBRATION_* bits); 0 and
// the translated error when its information record cannot be read.
ZVerror calibrationStyles(HZV device, std::int32_t& styles);

}  // namespace zv
