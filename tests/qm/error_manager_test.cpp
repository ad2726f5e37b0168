// The error store of a context.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qm/api/ErrorManager.h"
#include "qm/api/Symbols.h"

namespace {

using QM::ErrorManager;
using QM::operator==;

struct Push {
    enum Kind { Code, Device, Record } kind;
    QMenum code;
    ZVErrorInfo info;
};

Push code(QMenum c) { return {Push::Code, c, {}}; }
Push device(ZVerror e, int internal, HZV handle) { return {Push::Device, nullptr, {e, internal, handle}}; }
Push record(QMenum c, ZVerror e, int internal, HZV handle) { return {Push::Record, c, {e, internal, handle}}; }

void apply(ErrorManager& store, const Push& p) {
    switch (p.kind) {
    case Push::Code: store.pushError(p.code); break;
    case Push::Device: store.pushDeviceError(p.info); break;
    case Push::Record: store.pushRecord(QMerror{p.code, p.info}); break;
    }
}

TEST(QmErrorManager, EmptyStoreAnswersTheNoErrorRecord) {
    ErrorManager store;
    const QMerror none = QM::noErrorRecord();
    EXPECT_EQ(none.errorCode, QM_NO_ERROR);
    EXPECT_EQ(none.errorInfo.deviceHandle, ZV_INVALID_HANDLE);
    EXPECT_TRUE(store.peek() == none);
    EXPECT_TRUE(store.pop() == none);
}

// Only a repeat of the newest record is dropped; each kind of push compares
// its own part of the record.
TEST(QmErrorManager, ConsecutiveRepeatsAreStoredOnce) {
    struct Case {
        const char* what;
        std::vector<Push> pushes;
        std::vector<QMerror> popped;  // newest first
    };
    const ZVErrorInfo none{0, 0, ZV_INVALID_HANDLE};
    const Case cases[] = {
        {"same code twice", {code(QM_INVALID_VALUE), code(QM_INVALID_VALUE)}, {{QM_INVALID_VALUE, none}}},
        {"repeat after another",
         {code(QM_INVALID_VALUE), code(QM_INVALID_ENUM), code(QM_INVALID_VALUE)},
         {{QM_INVALID_VALUE, none}, {QM_INVALID_ENUM, none}, {QM_INVALID_VALUE, none}}},
        {"same device record twice", {device(0x302, -3, 0), device(0x302, -3, 0)}, {{QM_DEVICE_ERROR, {0x302, -3, 0}}}},
        {"device records differing in one field",
         {device(0x302, -3, 0), device(0x302, -4, 0), device(0x302, -4, 1)},
         {{QM_DEVICE_ERROR, {0x302, -4, 1}}, {QM_DEVICE_ERROR, {0x302, -4, 0}}, {QM_DEVICE_ERROR, {0x302, -3, 0}}}},
        {"whole records",
         {record(QM_DEVICE_ERROR, 1, 2, 3), record(QM_DEVICE_ERROR, 1, 2, 3), record(QM_INVALID_ENUM, 1, 2, 3)},
         {{QM_INVALID_ENUM, {1, 2, 3}}, {QM_DEVICE_ERROR, {1, 2, 3}}}},
        {"a code compares codes only",
         {device(0x302, 0, 0), code(QM_DEVICE_ERROR), code(QM_INVALID_ENUM)},
         {{QM_INVALID_ENUM, none}, {QM_DEVICE_ERROR, {0x302, 0, 0}}}},
        {"a device record compares device records only",
         {code(QM_INVALID_ENUM), device(0, 0, ZV_INVALID_HANDLE), device(1, 0, 0)},
         {{QM_DEVICE_ERROR, {1, 0, 0}}, {QM_INVALID_ENUM, none}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ErrorManager store;
        for (const Push& p : c.pushes) {
            apply(store, p);
        }
        ASSERT_EQ(store.size(), c.popped.size());
        EXPECT_TRUE(store.peek() == c.popped.front());
        for (const QMerror& expected : c.popped) {
            const QMerror actual = store.pop();
            EXPECT_EQ(actual.errorCode, expected.errorCode);
            EXPECT_TRUE(actual.errorInfo == expected.errorInfo);
        }
        EXPECT_TRUE(store.pop() == QM::noErrorRecord());
    }
}

// Errors arrive from several threads; the store stays consistent.
TEST(QmErrorManager, ConcurrentPushesAndPops) {
    ErrorManager store;
    constexpr int kPushes = 2000;
    std::thread pusher([&] {
        for (int i = 0; i < kPushes; ++i) {
            store.pushError(i % 2 == 0 ? QM_INVALID_ENUM : QM_INVALID_VALUE);
        }
    });
    int popped = 0;
    for (int i = 0; i < kPushes; ++i) {
        if (store.pop().errorCode != QM_NO_ERROR) {
            ++popped;
        }
    }
    pusher.join();
    while (store.pop().errorCode != QM_NO_ERROR) {
        ++popped;
    }
    EXPECT_GT(popped, 0);
    EXPECT_LE(popped, kPushes);
}

}  // namespace
