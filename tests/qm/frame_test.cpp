// Frames: the shape model across frames (persistence, qmCallShape, merges),
// the state handed between the collision side and the client thread, the
// proxy calls, the scene dump, and the threading rules of a context.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "korvo/korvo_sim.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/shapes/PrimitiveShape.h"
#include "shape_test_support.h"

namespace {

using qmtest::ShapeTest;

// A primitive square of half-size h in the plane z = 0.
void primitiveSquare(unsigned id, double h = 0.5) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    qmVertex3d(-h, -h, 0);
    qmVertex3d(h, -h, 0);
    qmVertex3d(h, h, 0);
    qmVertex3d(-h, h, 0);
    qmEnd();
    qmEndShape();
}

float stiffness(const QM::IShape* shape) {
    float value = -1.0f;
    shape->getAttributes().get<float>(QM::QM_INT_FRONT_FACE_STIFFNESS, value);
    return value;
}

class FrameTest : public ShapeTest {
protected:
    void SetUp() override {
        ShapeTest::SetUp();
        qmDisable(QM_USE_GL_MODELVIEW);
    }
};

TEST_F(FrameTest, FrameCallsCheckTheirState) {
    qmEndFrame();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    qmBeginFrame();
    qmBeginFrame();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    EXPECT_TRUE(context().inFrame) << "the second begin left the frame open";
    // A shape open at the end of the frame: refused, and the frame is left.
    const unsigned id = qmGenShapes(1);
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmEndFrame();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    EXPECT_FALSE(context().inFrame);
    qmEndShape();
    qmBeginFrame();
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
}

TEST_F(FrameTest, BeginShapeRefusesWhatItCannotBuild) {
    const unsigned id = qmGenShapes(1);
    // Types without a builder, the placeholder type and reserved names.
    for (QMenum type : {QM::QM_INT_SHAPE_BASE, QM_FLAT, QM_FRONT}) {
        qmBeginShape(type, id);
        EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_ENUM}) << (type == nullptr ? "(null)" : type);
        EXPECT_EQ(context().openShape, nullptr);
    }
    qmBeginShape(QM_SHAPE_PRIMITIVE, id + 100);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_VALUE});
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    qmEndShape();
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
}

// A shape copies the shape attributes (material, touchable face, touch
// model, snap distance, hints...) but not the context-wide touch state the
// collision side publishes into the attribute state.
TEST_F(FrameTest, ShapesCopyTheirAttributesButNotThePublishedTouchState) {
    QM::IStackedAttributeMap& state = context().state->getAttributes();
    state.set<bool>(QM_PROXY_IS_TOUCHING, true);
    const double normal[3] = {0, 0, 1};
    state.setArray<double>(QM_PROXY_TOUCH_NORMAL, normal);
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.25f);
    qmTouchableFace(QM_BACK);
    qmTouchModel(QM_CONSTRAINT);
    qmTouchModelf(QM_SNAP_DISTANCE, 3.5f);
    qmHintb(QM_SHAPE_PERSISTENCE, QM_TRUE);
    const unsigned id = qmGenShapes(1);
    primitiveSquare(id);
    QM::IShape* shape = persistentShape(id);
    ASSERT_NE(shape, nullptr);
    const QM::AttributeMap& a = shape->getAttributes();
    EXPECT_EQ(stiffness(shape), 0.25f);
    QMenum symbol = nullptr;
    EXPECT_TRUE(a.get<QMenum>(QM_TOUCHABLE_FACE, symbol));
    EXPECT_EQ(symbol, QM_BACK);
    EXPECT_TRUE(a.get<QMenum>(QM_TOUCH_MODEL, symbol));
    EXPECT_EQ(symbol, QM_CONSTRAINT);
    float snap = 0;
    EXPECT_TRUE(a.get<float>(QM_SNAP_DISTANCE, snap));
    EXPECT_EQ(snap, 3.5f);
    bool flag = false;
    EXPECT_TRUE(a.get<bool>(QM_SHAPE_PERSISTENCE, flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(a.get<bool>(QM_PROXY_IS_TOUCHING, flag));
    EXPECT_FALSE(flag) << "a new shape starts untouched";
    double matrix[16];
    EXPECT_TRUE(a.getArray<double>(QM::QM_INT_SHAPEWORKSPACE_MATRIX, matrix));
    EXPECT_TRUE(a.getArray<double>(QM::QM_INT_WORKSPACESHAPE_MATRIX, matrix));
}

TEST_F(FrameTest, OnlyPersistentShapesOutliveTheFrameThatDrewThem) {
    const unsigned kept = qmGenShapes(2);
    const unsigned dropped = kept + 1;
    qmBeginFrame();
    qmHintb(QM_SHAPE_PERSISTENCE, QM_TRUE);
    primitiveSquare(kept);
    qmHintb(QM_SHAPE_PERSISTENCE, QM_FALSE);
    primitiveSquare(dropped);
    qmEndFrame();
    EXPECT_NE(submittedShape(kept), nullptr);
    EXPECT_NE(submittedShape(dropped), nullptr);
    QMboolean touching = QM_TRUE;
    qmGetShapeBooleanv(dropped, QM_PROXY_IS_TOUCHING, &touching);
    EXPECT_EQ(touching, QM_FALSE);

    qmBeginFrame();
    qmEndFrame();
    EXPECT_NE(submittedShape(kept), nullptr);
    EXPECT_EQ(submittedShape(dropped), nullptr);
    EXPECT_NE(context().lastScene->getShapes().find(kept), nullptr) << "the carried shape is in the last scene";
    qmGetShapeBooleanv(kept, QM_PROXY_IS_TOUCHING, &touching);
    qmGetShapeBooleanv(dropped, QM_PROXY_IS_TOUCHING, &touching);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_VALUE});
}

TEST_F(FrameTest, ADeletedShapeIsNotCarriedOver) {
    const unsigned id = qmGenShapes(1);
    qmBeginFrame();
    qmHintb(QM_SHAPE_PERSISTENCE, QM_TRUE);
    primitiveSquare(id);
    qmEndFrame();
    qmDeleteShapes(id, 1);
    qmBeginFrame();
    qmEndFrame();
    EXPECT_EQ(submittedShape(id), nullptr);
    EXPECT_TRUE(errors().empty());
}

// qmCallShape re-uses the geometry of the shape last defined under the
// identifier and gives it the attributes current at the call.
TEST_F(FrameTest, CallShapeKeepsTheGeometryAndTakesNewAttributes) {
    const unsigned id = qmGenShapes(1);
    qmBeginFrame();
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.3f);
    primitiveSquare(id);
    qmEndFrame();
    QM::IShape* original = submittedShape(id);
    ASSERT_NE(original, nullptr);

    qmBeginFrame();
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.9f);
    qmCallShape(id);
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(submittedShape(id), original);
    EXPECT_EQ(persistentShape(id), original);
    EXPECT_EQ(stiffness(original), 0.9f);
    auto* mesh = dynamic_cast<QM::PrimitiveShape*>(original);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->geometry().triangleCount(), 2u);

    // Two frames later the shape still exists for qmCallShape, although the
    // frame in between did not draw it (it is then called from the
    // persistent scene itself).
    qmBeginFrame();
    qmEndFrame();
    EXPECT_EQ(submittedShape(id), nullptr);
    qmBeginFrame();
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.1f);
    qmCallShape(id);
    qmEndFrame();
    EXPECT_EQ(submittedShape(id), original);
    EXPECT_EQ(stiffness(original), 0.1f);
    EXPECT_TRUE(errors().empty());
}

TEST_F(FrameTest, CallShapeErrors) {
    const unsigned id = qmGenShapes(2);
    primitiveSquare(id);
    qmCallShape(id);  // outside a frame
    qmBeginFrame();
    qmCallShape(id + 1);   // never defined
    qmCallShape(id + 50);  // not reserved
    qmEndFrame();
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_OPERATION, QM_INVALID_VALUE}));
}

// Two shapes under one identifier in one frame: the second replaces the
// first everywhere and the first is destroyed (the sanitizer build checks
// that nothing leaks).
TEST_F(FrameTest, ASecondShapeUnderTheSameIdentifierReplacesTheFirst) {
    const unsigned id = qmGenShapes(1);
    qmBeginFrame();
    primitiveSquare(id, 0.5);
    QM::IShape* first = persistentShape(id);
    first->addReference();
    primitiveSquare(id, 0.25);
    QM::IShape* second = persistentShape(id);
    EXPECT_NE(first, second);
    EXPECT_EQ(context().frameScene->getShapes().find(id), second);
    EXPECT_EQ(first->referenceCount(), 1) << "only the test's reference is left";
    first->releaseReference();
    qmEndFrame();
    EXPECT_EQ(submittedShape(id), second);
}

// A stand-in for a one-shot effect: the frame machinery only looks at its
// identifier and its "triggered" flag.
class TriggeredEffect final : public sched::ReferenceCounter<QM::IEffect> {
public:
    explicit TriggeredEffect(unsigned id) : id_(id) {
        properties_.declare<bool>(QM::QM_INT_EFFECT_WAS_TRIGGERED);
        properties_.set<bool>(QM::QM_INT_EFFECT_WAS_TRIGGERED, true);
    }
    const QM::IForceShader* getForceShader() const override { return nullptr; }
    QM::IForceShader* getForceShader() override { return nullptr; }
    const QM::AttributeMap& getProperties() const override { return properties_; }
    QM::AttributeMap& getProperties() override { return properties_; }
    QMenum getType() const override { return QM_EFFECT_CONSTANT; }
    unsigned getId() const override { return id_; }
    void copyAllProperties(const QM::IAttributeMap&) override {}

private:
    unsigned id_;
    QM::AttributeMap properties_;
};

TEST_F(FrameTest, TriggeredEffectIdentifiersReturnAtTheSecondFollowingFrame) {
    qmBeginFrame();
    const unsigned id = qmGenEffects(1);
    context().addEffect(new TriggeredEffect(id));
    qmEndFrame();
    qmBeginFrame();
    EXPECT_EQ(qmIsEffect(id), QM_TRUE);
    qmEndFrame();
    qmBeginFrame();
    EXPECT_EQ(qmIsEffect(id), QM_FALSE);
    qmEndFrame();
}

// What the collision side publishes reaches the client at qmBeginFrame;
// what it never published leaves the defaults alone.
TEST_F(FrameTest, BeginFrameRefreshesTheClientFromTheCollisionCache) {
    QM::ISceneRenderer& renderer = *context().sceneRenderer;
    const double proxy[3] = {1.0, 2.0, 3.0};
    renderer.getCollisionCache().getValues().setArray<double>(QM_PROXY_POSITION, proxy);
    renderer.getCollisionCache().getValues().set<bool>(QM_BUTTON2_STATE, true);
    qmBeginFrame();
    double position[3] = {};
    qmGetDoublev(QM_PROXY_POSITION, position);
    EXPECT_EQ(position[0], 1.0);
    EXPECT_EQ(position[2], 3.0);
    QMboolean button = QM_FALSE;
    qmGetBooleanv(QM_BUTTON2_STATE, &button);
    EXPECT_EQ(button, QM_TRUE);
    double rotation[4] = {};
    qmGetDoublev(QM_DEVICE_ROTATION, rotation);
    EXPECT_EQ(rotation[0], 1.0) << "never published: still the identity, not zeros";
    double golden[3] = {};
    qmGetDoublev(QM_GOLDEN_POSITION, golden);
    EXPECT_EQ(golden[1], 2.0) << "the golden sphere follows the proxy";
    bool clientButton = false;
    EXPECT_TRUE(renderer.getClientCache().getValues().get<bool>(QM_BUTTON2_STATE, clientButton));
    EXPECT_TRUE(clientButton);
    EXPECT_FALSE(renderer.getClientCache().getValues().isSet(QM_DEVICE_ROTATION));
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
}

// Touch results written by the collision side into a submitted shape reach
// the per-shape results at the next qmBeginFrame, converted to model
// coordinates.
TEST_F(FrameTest, TouchResultsReachTheShapeQueries) {
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmScaled(2.0, 2.0, 2.0);
    const unsigned id = qmGenShapes(1);
    qmBeginFrame();
    primitiveSquare(id);
    qmEndFrame();
    QM::IShape* shape = submittedShape(id);
    ASSERT_NE(shape, nullptr);
    const double force[3] = {0.0, 0.0, 4.0};
    shape->getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, true);
    shape->getAttributes().set<QMenum>(QM_TOUCHED_FACE, QM_BACK);
    shape->getAttributes().setArray<double>(QM_REACTION_FORCE, force);
    qmBeginFrame();
    QMboolean touching = QM_FALSE;
    qmGetShapeBooleanv(id, QM_PROXY_IS_TOUCHING, &touching);
    EXPECT_EQ(touching, QM_TRUE);
    double model[3] = {};
    qmGetShapeDoublev(id, QM_REACTION_FORCE, model);
    EXPECT_NEAR(model[2], 4.0, 1e-12) << "a direction keeps its length";
    qmGetShapeDoublev(id, QM_PROXY_IS_TOUCHING, model);
    qmGetShapeBooleanv(id, QM_REACTION_FORCE, &touching);
    qmGetShapeBooleanv(id, QM_PROXY_IS_TOUCHING, nullptr);
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_ENUM, QM_INVALID_VALUE}));
    const QM::AttributeMap* results = context().state->findResultMap(id);
    ASSERT_NE(results, nullptr);
    QMenum face = nullptr;
    EXPECT_TRUE(results->get<QMenum>(QM_TOUCHED_FACE, face));
    EXPECT_EQ(face, QM_BACK);
    qmEndFrame();
}

// A model-to-workspace chain without an inverse (a zero scale) is reported
// wherever the inverse is needed, and a refused read writes nothing; values
// that need no conversion read as before, and the frame boundaries record
// nothing.
TEST_F(FrameTest, ASingularTransformIsReportedWhereTheInverseIsNeeded) {
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmTranslated(10.0, 0.0, 0.0);
    qmBeginFrame();
    qmEndFrame();
    const double workspace[3] = {10.0, 0.0, 0.0};
    context().state->getAttributes().setArray<double>(QM_PROXY_POSITION, workspace);
    double position[3] = {};
    qmGetDoublev(QM_PROXY_POSITION, position);
    EXPECT_NEAR(position[0], 0.0, 1e-12);
    EXPECT_TRUE(errors().empty());

    qmMatrixMode(QM_MODELVIEW);
    qmScaled(0.0, 1.0, 1.0);
    qmBeginFrame();
    EXPECT_TRUE(errors().empty());
    for (QMenum converted : {QM_PROXY_POSITION, QM_PROXY_ROTATION, QM_DEVICE_TRANSFORM, QM_DEVICE_FORCE}) {
        double again[16];
        std::fill(std::begin(again), std::end(again), -1.0);
        qmGetDoublev(converted, again);
        EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION}) << converted;
        EXPECT_EQ(std::count(std::begin(again), std::end(again), -1.0), 16)
            << converted << ": written although refused";
    }
    double box[6] = {};
    qmGetDoublev(QM_WORKSPACE, box);
    double matrix[16] = {};
    qmGetDoublev(QM_MODELVIEW_MATRIX, matrix);
    EXPECT_TRUE(errors().empty()) << "values that need no conversion";
    EXPECT_EQ(matrix[0], 0.0);
    qmEndFrame();
    EXPECT_TRUE(errors().empty()) << "the frame is submitted";
}

TEST_F(FrameTest, TheApplicationProxyPoseRoundTripsAndReachesTheRenderer) {
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmTranslated(5.0, 0.0, 0.0);
    qmBeginFrame();
    qmDisable(QM_PROXY_RESOLUTION);
    const double p[3] = {1.0, 2.0, 3.0};
    qmProxydv(QM_PROXY_POSITION, p);
    double back[3] = {};
    qmGetDoublev(QM_PROXY_POSITION, back);
    EXPECT_NEAR(back[0], 1.0, 1e-12);
    EXPECT_NEAR(back[1], 2.0, 1e-12);
    const double q[4] = {0.0, 1.0, 0.0, 0.0};
    qmProxydv(QM_PROXY_ROTATION, q);
    double transform[16] = {};
    qmGetDoublev(QM_PROXY_TRANSFORM, transform);
    EXPECT_NEAR(transform[12], 1.0, 1e-12);
    EXPECT_NEAR(transform[5], -1.0, 1e-12) << "half a turn about x";
    qmEndFrame();
    const QM::ProxyPose& pose = context().sceneRenderer->getApplicationProxyPose();
    EXPECT_NEAR(pose.position[0], 6.0, 1e-12) << "handed over in workspace coordinates";
    EXPECT_NEAR(pose.rotation[1], 1.0, 1e-12);

    qmProxydv(QM_PROXY_TRANSFORM, p);
    qmProxydv(QM_PROXY_POSITION, nullptr);
    const double bad[3] = {0.0, NAN, 0.0};
    qmProxydv(QM_PROXY_POSITION, bad);
    qmProxyf(QM_STIFFNESS, 0.5f);
    qmProxyf(QM_DAMPING, INFINITY);
    qmProxyf(QM_POPTHROUGH, 0.5f);
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_OPERATION, QM_INVALID_VALUE, QM_INVALID_OPERATION}));
    float stiffnessValue = 0;
    EXPECT_TRUE(context().sceneRenderer->getRendererParameters().get<float>(QM_STIFFNESS, stiffnessValue));
    EXPECT_EQ(stiffnessValue, 0.5f);
}

TEST_F(FrameTest, CacheQueriesCheckTheirArguments) {
    QM::ISceneRenderer& renderer = *context().sceneRenderer;
    auto* cache = reinterpret_cast<QMcache>(&renderer.getCollisionCache());
    QMboolean flag = QM_FALSE;
    double v[16] = {};
    qmCacheGetBooleanv(cache, QM_BUTTON1_STATE, &flag);  // never published
    qmCacheGetBooleanv(nullptr, QM_BUTTON1_STATE, &flag);
    qmCacheGetDoublev(cache, QM_GOLDEN_POSITION, v);
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_ENUM, QM_INVALID_VALUE, QM_INVALID_ENUM}));
    const double force[3] = {0.0, 3.0, 4.0};
    renderer.getCollisionCache().getValues().setArray<double>(QM_DEVICE_FORCE, force);
    renderer.getCollisionCache().getValues().set<bool>(QM_INKWELL_STATE, true);
    qmCacheGetDoublev(cache, QM_DEVICE_FORCE, v);
    EXPECT_EQ(v[2], 4.0);
    qmCacheGetBooleanv(cache, QM_INKWELL_STATE, &flag);
    EXPECT_EQ(flag, QM_TRUE);
    EXPECT_TRUE(errors().empty());
}

// ---------------------------------------------------------------- scene dump

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(FrameTest, TheDumpOfAnEmptySceneIsTheFixedFrame) {
    const std::string path = testing::TempDir() + "empty_scene.xml";
    qmDumpScene(path.c_str());
    EXPECT_EQ(readFile(path),
              "<?xml version=\"1.0\"?>\n"
              "<!-- Orvell Technologies QM scene file. -->\n"
              "<QMScene>\n"
              "<FileVersion>1.0</FileVersion>\n"
              "</QMScene>\n");
    std::remove(path.c_str());
    qmDumpScene("/nonexistent-directory/scene.xml");
    qmDumpScene(nullptr);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
}

TEST_F(FrameTest, TheDumpListsEveryShapeWithEveryAttribute) {
    qmGenShapes(5);  // identifiers 2 to 6; 1 is the context's own
    const unsigned id = qmGenShapes(1);
    ASSERT_EQ(id, 7u);
    qmBeginFrame();
    primitiveSquare(id);
    qmEndFrame();
    const std::string path = testing::TempDir() + "scene7.xml";
    qmDumpScene(path.c_str());
    const std::string text = readFile(path);
    std::remove(path.c_str());
    EXPECT_NE(text.find("<FileVersion>1.0</FileVersion>\n\t<QMShape id=7>\n\t\t<Type>QM_SHAPE_PRIMITIVE</Type>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t\t<Attribute tag=QM_REACTION_FORCE>\n\t\t\t<Type>doublev</Type>\n"
                        "\t\t\t<ArraySize>3</ArraySize>\n\t\t\t<Data>0, 0, 0, </Data>\n\t\t</Attribute>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t\t<Attribute tag=QM_TOUCHABLE_FACE>\n\t\t\t<Type>QMenum</Type>\n"
                        "\t\t\t<Data>QM_FRONT</Data>\n\t\t</Attribute>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t</QMShape>\n</QMScene>\n"), std::string::npos);
}

// ---------------------------------------------------------------- threads

TEST_F(FrameTest, TheCollisionThreadMayNotBeginOrEndFramesOrShapes) {
    const unsigned id = qmGenShapes(1);
    primitiveSquare(id);
    qmBeginFrame();
    std::vector<QMenum> seen;
    onCollisionThread([&] {
        // The collision thread has this context current only during its
        // steps; callbacks run then.
        qmMakeCurrent(rc);
        qmEndFrame();
        qmBeginFrame();
        qmBeginShape(QM_SHAPE_PRIMITIVE, id);
        qmCallShape(id);
        qmContextDevice(ZV_INVALID_HANDLE);
        qmDeleteContext(rc);
        // Allowed there: reads, the proxy, proxy resolution.
        double p[3] = {0.1, 0.2, 0.3};
        qmProxydv(QM_PROXY_POSITION, p);
        qmGetDoublev(QM_PROXY_POSITION, p);
        qmDisable(QM_PROXY_RESOLUTION);
        seen = errors();
        qmMakeCurrent(nullptr);
    });
    EXPECT_EQ(seen, std::vector<QMenum>{QM_INVALID_OPERATION}) << "six refusals, stored once";
    EXPECT_TRUE(context().inFrame) << "the client's frame is untouched";
    EXPECT_TRUE(context().sceneRenderer->isRunning());
    bool resolution = true;
    context().sceneRenderer->getRendererParameters().get<bool>(QM_PROXY_RESOLUTION, resolution);
    EXPECT_FALSE(resolution) << "taken over at once on the collision thread";
    EXPECT_NEAR(context().sceneRenderer->getApplicationProxyPose().position[2], 0.3, 1e-12);
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
}

// Three threads share the context: the client draws frames, the collision
// thread steps on its own timer (and runs a reader between steps), and the
// servo loop ticks. The thread sanitizer build checks that every shared
// value is guarded.
TEST_F(FrameTest, ClientCollisionAndServoThreadsShareAContextSafely) {
    const unsigned ids = qmGenShapes(3);
    std::atomic<bool> stop{false};
    std::thread servo([&] {
        while (!stop.load()) {
            korvo_sim_run_ticks(5);
        }
    });
    QM::collisionScheduler().setRate(1000);
    QM::collisionScheduler().setStopped(false);
    std::atomic<int> reads{0};
    for (int frame = 0; frame < 200; ++frame) {
        qmBeginFrame();
        qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.5f);
        qmMatrixMode(QM_MODELVIEW);
        qmLoadIdentity();
        qmTranslated(0.0, 0.0, 0.001 * (frame % 10));
        for (unsigned i = 0; i < 3; ++i) {
            if (frame % 3 == static_cast<int>(i) && frame > 2) {
                qmCallShape(ids + i);
            } else {
                primitiveSquare(ids + i, 0.1 * (i + 1));
            }
        }
        qmEndFrame();
        if (frame % 20 == 0) {
            onCollisionThread([&] {
                qmMakeCurrent(rc);
                double v[16];
                QMboolean b;
                qmGetDoublev(QM_PROXY_POSITION, v);
                qmGetDoublev(QM_MODELVIEW_MATRIX, v);
                qmGetBooleanv(QM_BUTTON1_STATE, &b);
                qmGetShapeBooleanv(ids, QM_PROXY_IS_TOUCHING, &b);
                const double p[3] = {0.0, 0.0, 0.5};
                qmProxydv(QM_PROXY_POSITION, p);
                qmEnable(QM_PROXY_RESOLUTION);
                qmMakeCurrent(nullptr);
                reads.fetch_add(1);
            });
        }
    }
    QM::collisionScheduler().setStopped(true);
    QM::collisionScheduler().setRate(QM::CollisionScheduler::kDefaultRate);
    stop.store(true);
    servo.join();
    errors();
    EXPECT_EQ(reads.load(), 10);
    EXPECT_GT(QM::collisionScheduler().stepCount(), 0u);
}

}  // namespace
