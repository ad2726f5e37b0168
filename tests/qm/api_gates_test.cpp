// The frame and open-shape gates of the exported functions. No exported
// function opens a frame or a shape yet, so the tests set the context's
// flags directly.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <thread>

#include "qm/api/CallFrame.h"
#include "qm/api/Context.h"
#include "qm/api/CurrentContext.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/IShapeBuilder.h"

namespace {

class NullBuilder final : public QM::IShapeBuilder {
public:
    void begin(unsigned, QM::IState&) override {}
    QM::IShape* end(QM::IState&) override { return nullptr; }
    unsigned getId() const override { return 0; }
};

class QmGates : public ::testing::Test {
protected:
    void SetUp() override {
        device = zvInitDevice(ZV_DEFAULT_DEVICE);
        ASSERT_NE(device, ZV_INVALID_HANDLE);
        handle = qmCreateContext(device);
        ASSERT_NE(handle, nullptr);
        qmMakeCurrent(handle);
        context = QM::currentContext();
    }
    void TearDown() override {
        context->openShape = nullptr;
        qmMakeCurrent(nullptr);
        qmDeleteContext(handle);
        zvDisableDevice(device);
    }
    QMenum lastError() { return qmGetError().errorCode; }

    HZV device = ZV_INVALID_HANDLE;
    HQMRC handle = nullptr;
    QM::Context* context = nullptr;
    NullBuilder builder;
};

// Inside a frame the device cannot change, and nothing changes.
TEST_F(QmGates, ContextDeviceIsRefusedInsideAFrame) {
    context->inFrame = true;
    qmContextDevice(ZV_INVALID_HANDLE);
    EXPECT_EQ(lastError(), QM_INVALID_OPERATION);
    EXPECT_EQ(qmGetCurrentDevice(), device);
    EXPECT_TRUE(context->sceneRenderer->isRunning());
    context->inFrame = false;
    qmContextDevice(ZV_INVALID_HANDLE);
    EXPECT_EQ(lastError(), QM_NO_ERROR);
    EXPECT_FALSE(context->sceneRenderer->isRunning());
}

TEST_F(QmGates, ShapeIdentifiersAreLockedWhileAShapeIsOpen) {
    ASSERT_EQ(qmGenShapes(2), 2u);
    context->openShape = &builder;
    EXPECT_EQ(qmGenShapes(1), 0u);
    EXPECT_EQ(lastError(), QM_INVALID_OPERATION);
    EXPECT_EQ(qmGenShapes(-1), 0u);  // the count is checked first
    EXPECT_EQ(lastError(), QM_INVALID_VALUE);
    qmDeleteShapes(2, 1);
    EXPECT_EQ(lastError(), QM_INVALID_OPERATION);
    EXPECT_FALSE(qmIsShape(2));
    EXPECT_EQ(lastError(), QM_INVALID_OPERATION);
    // The effect pool does not care.
    EXPECT_EQ(qmGenEffects(1), 1u);
    EXPECT_EQ(lastError(), QM_NO_ERROR);
    context->openShape = nullptr;
    EXPECT_TRUE(qmIsShape(2));
}

TEST_F(QmGates, CameraCapabilitiesAreLockedWhileAShapeIsOpen) {
    context->openShape = &builder;
    for (QMenum cap : {QM_HAPTIC_CAMERA_VIEW, QM_ADAPTIVE_VIEWPORT}) {
        qmEnable(cap);
        EXPECT_EQ(lastError(), QM_INVALID_OPERATION) << cap;
        EXPECT_FALSE(qmIsEnabled(cap));
    }
    qmDisable(QM_USE_GL_MODELVIEW);
    qmDisable(QM_PROXY_RESOLUTION);
    EXPECT_EQ(lastError(), QM_NO_ERROR);
}

// The renderer takes a proxy-resolution change at once only on the
// collision thread; elsewhere only the attribute changes.
TEST_F(QmGates, ProxyResolutionReachesTheRendererOnTheCollisionThread) {
    bool rendererValue = true;
    qmDisable(QM_PROXY_RESOLUTION);
    context->sceneRenderer->getRendererParameters().get<bool>(QM_PROXY_RESOLUTION, rendererValue);
    EXPECT_TRUE(rendererValue);
    std::thread collision([&] {
        QM::OperationScheduler* scheduler = QM::operationScheduler(QM_COLLISION_THREAD);
        scheduler->bindToCurrentThread();
        qmMakeCurrent(handle);
        qmDisable(QM_PROXY_RESOLUTION);
        qmMakeCurrent(nullptr);
        scheduler->unbind();
    });
    collision.join();
    context->sceneRenderer->getRendererParameters().get<bool>(QM_PROXY_RESOLUTION, rendererValue);
    EXPECT_FALSE(rendererValue);
    EXPECT_FALSE(qmIsEnabled(QM_PROXY_RESOLUTION));
}

// The context's client-thread scheduler follows the thread that created the
// latest context.
TEST_F(QmGates, CreatingAContextBindsTheClientScheduler) {
    QM::OperationScheduler* client = QM::operationScheduler(QM_CLIENT_THREAD);
    EXPECT_TRUE(client->isCurrentThread());
    HQMRC other = nullptr;
    std::thread creator([&] { other = qmCreateContext(ZV_INVALID_HANDLE); });
    creator.join();
    EXPECT_FALSE(client->isCurrentThread());
    qmDeleteContext(other);
}

}  // namespace

namespace {

// The call frame records the first failure of a call in the context current
// when the failure is caught, runs the cleanup and returns the failure value.
TEST_F(QmGates, CallFrameRecordsFailuresAndRunsCleanups) {
    struct Case {
        const char* what;
        std::function<void()> body;
        QMenum recorded;
    };
    const Case cases[] = {
        {"a library error", [] { throw QM::QMException(QM_STACK_OVERFLOW); }, QM_STACK_OVERFLOW},
        {"an allocation failure", [] { throw std::bad_alloc(); }, QM_OUT_OF_MEMORY},
        {"anything else", [] { throw 42; }, QM_INVALID_OPERATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool cleaned = false;
        QM::callInContextWithCleanup([&](QM::Context&) { c.body(); }, [&](QM::Context&) { cleaned = true; });
        EXPECT_TRUE(cleaned);
        EXPECT_EQ(lastError(), c.recorded);
        EXPECT_EQ(QM::callInContext<int>(-1,
                                         [&](QM::Context&) {
                                             c.body();
                                             return 1;
                                         }),
                  -1);
        EXPECT_EQ(lastError(), c.recorded);
        EXPECT_EQ(QM::callWithoutContext<int>(-2,
                                              [&] {
                                                  c.body();
                                                  return 1;
                                              }),
                  -2);
        EXPECT_EQ(lastError(), c.recorded);
    }
    bool cleaned = false;
    QM::callInContextWithCleanup([](QM::Context&) {}, [&](QM::Context&) { cleaned = true; });
    EXPECT_FALSE(cleaned);
    EXPECT_EQ(QM::callWithoutContext<int>(0, [] { return 5; }), 5);
}

TEST(QmCallFrame, WithoutAContextNothingRunsAndNothingIsRecorded) {
    ASSERT_EQ(QM::currentContext(), nullptr);
    bool ran = false;
    bool cleaned = false;
    QM::callInContextWithCleanup([&](QM::Context&) { ran = true; }, [&](QM::Context&) { cleaned = true; });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(cleaned);
    EXPECT_EQ(QM::callWithoutContext<int>(-1,
                                          [] {
                                              throw QM::QMException(QM_INVALID_ENUM);
                                              return 0;
                                          }),
              -1);
    EXPECT_EQ(QM::callWithoutContext<int>(0, [] { return 3; }), 3);
}

}  // namespace

namespace {
void someCallback() {}
}  // namespace

// qmCallback needs a frame, and for a shape callback an open shape; what it
// stores is the function and its user data under the type's own keys.
TEST_F(QmGates, CallbackGatesAndStorage) {
    struct Case {
        QMenum type;
        QMenum userDataKey;
        bool shape;
    };
    const Case cases[] = {
        {QM_SHAPE_INTERSECT_LS, QM::QM_INT_SHAPE_INTERSECT_LS_USER_DATA, true},
        {QM_SHAPE_CLOSEST_FEATURES, QM::QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA, true},
        {QM_EFFECT_COMPUTE_FORCE, QM::QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, false},
        {QM_EFFECT_START, QM::QM_INT_EFFECT_START_USER_DATA, false},
        {QM_EFFECT_STOP, QM::QM_INT_EFFECT_STOP_USER_DATA, false},
    };
    int data = 0;
    auto& attributes = context->state->getAttributes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        context->inFrame = false;
        context->openShape = nullptr;
        qmCallback(c.type, someCallback, &data);
        EXPECT_EQ(lastError(), QM_INVALID_OPERATION);

        context->inFrame = true;
        qmCallback(c.type, someCallback, &data);
        EXPECT_EQ(lastError(), c.shape ? QM_INVALID_OPERATION : QM_NO_ERROR);

        context->openShape = &builder;
        qmCallback(c.type, someCallback, &data);
        EXPECT_EQ(lastError(), QM_NO_ERROR);
        QM::AttribCallback stored = nullptr;
        void* storedData = nullptr;
        EXPECT_TRUE(attributes.get<QM::AttribCallback>(c.type, stored));
        EXPECT_TRUE(attributes.get<void*>(c.userDataKey, storedData));
        EXPECT_EQ(stored, &someCallback);
        EXPECT_EQ(storedData, &data);
    }
    context->openShape = &builder;
    for (QMenum bad : {QM_STIFFNESS, static_cast<QMenum>(nullptr), static_cast<QMenum>("QM_EFFECT_START")}) {
        qmCallback(bad, someCallback, &data);
        EXPECT_EQ(lastError(), QM_INVALID_ENUM);
    }
    context->inFrame = false;
}

// An effect callback set between qmPushAttrib and qmPopAttrib of the effect
// group is undone by the pop.
TEST_F(QmGates, CallbackIsRestoredWithItsAttributeGroup) {
    context->inFrame = true;
    qmCallback(QM_EFFECT_START, nullptr, nullptr);
    qmPushAttrib(QM_EFFECT_BIT);
    int data = 0;
    qmCallback(QM_EFFECT_START, someCallback, &data);
    qmPopAttrib();
    EXPECT_EQ(lastError(), QM_NO_ERROR);
    QM::AttribCallback stored = someCallback;
    context->state->getAttributes().get<QM::AttribCallback>(QM_EFFECT_START, stored);
    EXPECT_EQ(stored, nullptr);
    context->inFrame = false;
}
