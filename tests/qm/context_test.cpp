// Contexts, the current context per thread, the error store, strings.
#include <cfloat>
#include <cstring>
#include <thread>

#include "qm_test_support.h"

namespace {

using qmtest::ContextTest;

TEST(QmNoContext, GetErrorReturnsTheFixedRecord) {
    ASSERT_EQ(qmGetCurrentContext(), nullptr);
    const QMerror e = qmGetError();
    EXPECT_EQ(e.errorCode, QM_INVALID_OPERATION);
    EXPECT_EQ(e.errorInfo.errorCode, 0u);
    EXPECT_EQ(static_cast<unsigned>(e.errorInfo.internalErrorCode), 0xFFFFFFFFu);
    EXPECT_EQ(e.errorInfo.deviceHandle, 0u);
}

// Without a current context every call fails with its failure value and
// changes nothing (there is nowhere to record the error).
TEST(QmNoContext, CallsReturnTheirFailureValues) {
    EXPECT_EQ(qmGetCurrentDevice(), ZV_INVALID_HANDLE);
    EXPECT_EQ(qmGenShapes(3), 0u);
    EXPECT_EQ(qmGenEffects(3), 0u);
    EXPECT_FALSE(qmIsShape(1));
    EXPECT_FALSE(qmIsEffect(1));
    EXPECT_FALSE(qmIsEnabled(QM_USE_GL_MODELVIEW));
    double values[16] = {42.0};
    qmGetDoublev(QM_VIEWTOUCH_MATRIX, values);
    EXPECT_EQ(values[0], 42.0);
    float material = 7.0f;
    qmGetMaterialfv(QM_FRONT, QM_STIFFNESS, &material);
    EXPECT_EQ(material, 7.0f);
    QMboolean flag = 9;
    qmGetBooleanv(QM_BUTTON1_STATE, &flag);
    EXPECT_EQ(flag, 9);
    // Setters do nothing and do not crash.
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.5f);
    qmPushAttrib(QM_MATERIAL_BIT);
    qmPopAttrib();
    qmMatrixMode(QM_MODELVIEW);
    qmTranslated(1, 2, 3);
    qmWorkspace(-1, -1, -1, 1, 1, 1);
    qmContextDevice(ZV_INVALID_HANDLE);
    qmDeleteShapes(1, 1);
    qmBeginFrame();
    qmBeginShape(QM_SHAPE_PRIMITIVE, 1);
    qmBegin(QM_POINTS);
    qmVertex3d(0, 0, 0);
    qmEnd();
    qmEndShape();
    qmCallShape(1);
    qmEndFrame();
    qmProxyf(QM_STIFFNESS, 0.5f);
    qmProxydv(QM_PROXY_POSITION, values);
    qmDumpScene("/dev/null");
    qmGetShapeDoublev(1, QM_REACTION_FORCE, values);
    EXPECT_EQ(values[0], 42.0);
    qmGetShapeBooleanv(1, QM_PROXY_IS_TOUCHING, &flag);
    EXPECT_EQ(flag, 9);
    EXPECT_EQ(qmGetError().errorCode, QM_INVALID_OPERATION);
}

TEST(QmStrings, VersionAndVendor) {
    EXPECT_STREQ(qmGetString(QM_VERSION), "2.00.23");
    EXPECT_STREQ(qmGetString(QM_VENDOR), "Orvell Technologies, Inc.");
}

TEST(QmStrings, SameBufferOnEveryThread) {
    const char* here = qmGetString(QM_VERSION);
    const char* there = nullptr;
    std::thread other([&] { there = qmGetString(QM_VERSION); });
    other.join();
    EXPECT_EQ(here, there);
    EXPECT_STREQ(there, "2.00.23");
}

class QmStringsInContext : public ContextTest {};

TEST_F(QmStringsInContext, OtherSymbolsGiveNullAndRecordNothing) {
    for (QMenum name :
         {QM_STIFFNESS, QM_NO_ERROR, QM_TIME, static_cast<QMenum>(nullptr), static_cast<QMenum>("QM_VERSION")}) {
        EXPECT_EQ(qmGetString(name), nullptr) << qmtest::name(name);
    }
    expectNoError();
}

class QmContexts : public ContextTest {};

TEST_F(QmContexts, CreateLeavesTheCurrentContextAlone) {
    HQMRC second = qmCreateContext(device);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, context);
    EXPECT_EQ(qmGetCurrentContext(), context);
    qmDeleteContext(second);
    EXPECT_EQ(qmGetCurrentContext(), context);
}

// The workspace box is the midpoint of the device's maximum and usable
// boxes, stored both as QM_WORKSPACE and as QM_MAX_WORKSPACE_DIMS.
TEST_F(QmContexts, WorkspaceIsTheMidpointOfTheDeviceBoxes) {
    double maximum[6];
    double usable[6];
    zvMakeCurrentDevice(device);
    zvGetDoublev(ZV_MAX_WORKSPACE_DIMENSIONS, maximum);
    zvGetDoublev(ZV_USABLE_WORKSPACE_DIMENSIONS, usable);
    double workspace[6];
    double maxDims[6];
    qmGetDoublev(QM_WORKSPACE, workspace);
    qmGetDoublev(QM_MAX_WORKSPACE_DIMS, maxDims);
    for (int i = 0; i < 6; ++i) {
        EXPECT_DOUBLE_EQ(workspace[i], (maximum[i] + usable[i]) * 0.5) << i;
        EXPECT_EQ(workspace[i], maxDims[i]) << i;
    }
    EXPECT_LT(workspace[0], workspace[3]);
    expectNoError();
}

TEST_F(QmContexts, CreatingAContextKeepsTheCallersCurrentDevice) {
    HZV other = zvInitDevice("Korvo Mini");
    ASSERT_NE(other, ZV_INVALID_HANDLE);
    zvMakeCurrentDevice(other);
    HQMRC second = qmCreateContext(device);
    EXPECT_EQ(zvGetCurrentDevice(), other);
    qmDeleteContext(second);
    zvDisableDevice(other);
}

TEST_F(QmContexts, CurrentContextIsPerThread) {
    HQMRC seen = context;
    QMenum error = nullptr;
    std::thread other([&] {
        seen = qmGetCurrentContext();
        error = qmGetError().errorCode;
        qmMakeCurrent(context);
        qmTouchModel(QM_FLAT);  // recorded in the shared context's store
        qmMakeCurrent(nullptr);
    });
    other.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(error, QM_INVALID_OPERATION);
    EXPECT_EQ(qmGetCurrentContext(), context);
    expectErrors({QM_INVALID_ENUM});
}

TEST_F(QmContexts, DeviceOfTheContext) {
    EXPECT_EQ(qmGetCurrentDevice(), device);
    qmContextDevice(ZV_INVALID_HANDLE);
    EXPECT_EQ(qmGetCurrentDevice(), ZV_INVALID_HANDLE);
    qmContextDevice(device);
    EXPECT_EQ(qmGetCurrentDevice(), device);
    expectNoError();
}

TEST_F(QmContexts, ContextsKeepTheirOwnState) {
    HQMRC second = qmCreateContext(device);
    qmMakeCurrent(second);
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.25f);
    qmTouchModel(QM_FLAT);
    qmMakeCurrent(context);
    float stiffness = 0.0f;
    qmGetMaterialfv(QM_FRONT, QM_STIFFNESS, &stiffness);
    EXPECT_FLOAT_EQ(stiffness, 0.8f);
    expectNoError();
    qmMakeCurrent(second);
    expectErrors({QM_INVALID_ENUM});
    qmMakeCurrent(context);
    qmDeleteContext(second);
}

TEST_F(QmContexts, AContextWithoutDevice) {
    HQMRC none = qmCreateContext(ZV_INVALID_HANDLE);
    ASSERT_NE(none, nullptr);
    qmMakeCurrent(none);
    EXPECT_EQ(qmGetCurrentDevice(), ZV_INVALID_HANDLE);
    double workspace[6];
    qmGetDoublev(QM_WORKSPACE, workspace);
    EXPECT_EQ(workspace[0], -DBL_MAX);
    EXPECT_EQ(workspace[5], DBL_MAX);
    EXPECT_EQ(qmGenShapes(1), 2u);
    expectNoError();
    qmMakeCurrent(context);
    qmDeleteContext(none);
    // Nothing was left on the device library's error stack either.
    EXPECT_EQ(zvGetError().errorCode, static_cast<ZVerror>(ZV_SUCCESS));
}

TEST_F(QmContexts, DeletingTheCurrentContextLeavesTheThreadWithoutOne) {
    HQMRC second = qmCreateContext(device);
    qmMakeCurrent(second);
    qmDeleteContext(second);
    EXPECT_EQ(qmGetCurrentContext(), nullptr);
    EXPECT_EQ(qmGetError().errorCode, QM_INVALID_OPERATION);
    qmDeleteContext(nullptr);
    qmMakeCurrent(context);
}

class QmErrors : public ContextTest {};

// Newest first; a repeat of the newest error is stored once; the empty
// store answers the no-error record.
TEST_F(QmErrors, PoppedNewestFirstWithConsecutiveRepeatsStoredOnce) {
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 2.0f);   // QM_INVALID_VALUE
    qmMaterialf(QM_FRONT, QM_STIFFNESS, -1.0f);  // QM_INVALID_VALUE again
    qmTouchModel(QM_FRONT);                      // QM_INVALID_ENUM
    EXPECT_EQ(qmGetError().errorCode, QM_INVALID_ENUM);
    EXPECT_EQ(qmGetError().errorCode, QM_INVALID_VALUE);
    const QMerror none = qmGetError();
    EXPECT_EQ(none.errorCode, QM_NO_ERROR);
    EXPECT_EQ(none.errorInfo.errorCode, 0u);
    EXPECT_EQ(none.errorInfo.internalErrorCode, 0);
    EXPECT_EQ(none.errorInfo.deviceHandle, ZV_INVALID_HANDLE);
}

TEST_F(QmErrors, OnlyTheNewestIsComparedForRepeats) {
    qmTouchModel(QM_FRONT);
    qmPushAttrib(0);
    qmTouchModel(QM_FRONT);
    qmTouchModel(QM_FRONT);
    expectErrors({QM_INVALID_ENUM, QM_INVALID_VALUE, QM_INVALID_ENUM});
}

TEST_F(QmErrors, RecordsCarryTheNoErrorDeviceRecord) {
    qmPopMatrix();
    const QMerror e = qmGetError();
    EXPECT_EQ(e.errorCode, QM_STACK_UNDERFLOW);
    EXPECT_EQ(e.errorInfo.errorCode, 0u);
    EXPECT_EQ(e.errorInfo.internalErrorCode, 0);
    EXPECT_EQ(e.errorInfo.deviceHandle, ZV_INVALID_HANDLE);
}

}  // namespace
