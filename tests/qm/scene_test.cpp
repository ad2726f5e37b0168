// Scenes hold references to shared shapes and effects; a context adds
// finished shapes and effects to its scenes.
#include <gtest/gtest.h>

#include "qm/api/Context.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/Scene.h"
#include "qm/state/AttributeMap.h"

namespace {

using QM::Scene;

int gDestroyed = 0;

class FakeShape final : public sched::ReferenceCounter<QM::IShape> {
public:
    FakeShape(unsigned id, QMenum type) : id_(id), type_(type) {}
    ~FakeShape() override { ++gDestroyed; }

    bool intersectSegment(const zvu::zvuLineSegmentd&, zvu::zvuVector3Dd&, zvu::zvuVector3Dd&, QMenum&) override {
        return false;
    }
    bool intersectSegment(const zvu::zvuLineSegmentd&, QMenum, zvu::zvuVector3Dd&, zvu::zvuVector3Dd&,
                          QMenum&) override {
        return false;
    }
    bool closestFeatures(const zvu::zvuLineSegmentd&, QM::LocalFeatureSet&, zvu::zvuVector3Dd&) override {
        return false;
    }
    double getProxyOffset() const override { return 0.0; }
    const QM::AttributeMap& getAttributes() const override { return attributes_; }
    QM::AttributeMap& getAttributes() override { return attributes_; }
    void setAttributes(const QM::IAttributeMap&) override {}
    QMenum getType() const override { return type_; }
    unsigned getId() const override { return id_; }

private:
    unsigned id_;
    QMenum type_;
    QM::AttributeMap attributes_;
};

class FakeEffect final : public sched::ReferenceCounter<QM::IEffect> {
public:
    FakeEffect(unsigned id, QMenum type) : id_(id), type_(type) {}
    ~FakeEffect() override { ++gDestroyed; }

    const QM::IForceShader* getForceShader() const override { return nullptr; }
    QM::IForceShader* getForceShader() override { return nullptr; }
    const QM::AttributeMap& getProperties() const override { return properties_; }
    QM::AttributeMap& getProperties() override { return properties_; }
    QMenum getType() const override { return type_; }
    unsigned getId() const override { return id_; }
    void copyAllProperties(const QM::IAttributeMap&) override {}

private:
    unsigned id_;
    QMenum type_;
    QM::AttributeMap properties_;
};

class QmScenes : public ::testing::Test {
protected:
    void SetUp() override { gDestroyed = 0; }
};

TEST_F(QmScenes, EntriesHoldOneReferenceEach) {
    auto* shape = new FakeShape(3, QM_SHAPE_PRIMITIVE);
    {
        Scene a;
        Scene b;
        a.addShape(shape);
        a.addShape(shape);  // the same object again: still one reference
        EXPECT_EQ(shape->referenceCount(), 1);
        b.addShape(shape);
        EXPECT_EQ(shape->referenceCount(), 2);
        EXPECT_TRUE(a.removeShape(3));
        EXPECT_FALSE(a.removeShape(3));
        EXPECT_EQ(shape->referenceCount(), 1);
        EXPECT_EQ(gDestroyed, 0);
        a.addShape(nullptr);
    }
    EXPECT_EQ(gDestroyed, 1);
}

// A second shape under an identifier replaces the first, whose reference is
// dropped rather than leaked.
TEST_F(QmScenes, AddingUnderATakenIdentifierReplaces) {
    Scene scene;
    auto* first = new FakeShape(4, QM_SHAPE_PRIMITIVE);
    auto* second = new FakeShape(4, QM_SHAPE_PRIMITIVE);
    scene.addShape(first);
    scene.addShape(second);
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(scene.getShapes().find(4), second);
    EXPECT_EQ(scene.getShapes().size(), 1u);
}

TEST_F(QmScenes, SwapMovesEntriesBetweenScenes) {
    Scene a;
    Scene b;
    auto* onlyInA = new FakeShape(1, QM_SHAPE_PRIMITIVE);
    auto* inA = new FakeShape(2, QM_SHAPE_PRIMITIVE);
    auto* inB = new FakeShape(2, QM_SHAPE_PRIMITIVE);
    a.addShape(onlyInA);
    a.addShape(inA);
    b.addShape(inB);
    a.swapShape(b, 1);
    a.swapShape(b, 2);
    EXPECT_EQ(a.getShapes().find(1), nullptr);
    EXPECT_EQ(b.getShapes().find(1), onlyInA);
    EXPECT_EQ(a.getShapes().find(2), inB);
    EXPECT_EQ(b.getShapes().find(2), inA);
    EXPECT_EQ(inA->referenceCount(), 1);
    a.swapShape(b, 99);
    a.clear();
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_TRUE(a.getShapes().iterator()->atEnd());
}

TEST_F(QmScenes, EffectsWorkTheSameWay) {
    Scene a;
    Scene b;
    auto* effect = new FakeEffect(7, QM_EFFECT_SPRING);
    a.addEffect(effect);
    a.swapEffect(b, 7);
    EXPECT_EQ(b.getEffects().find(7), effect);
    EXPECT_FALSE(a.removeEffect(7));
    EXPECT_TRUE(b.removeEffect(7));
    EXPECT_EQ(gDestroyed, 1);
}

// ---------------------------------------------------------------- context

class QmContextScenes : public QmScenes {
protected:
    QM::Context context;
};

TEST_F(QmContextScenes, OutsideAFrameShapesGoToThePersistentSceneOnly) {
    auto* shape = new FakeShape(2, QM_SHAPE_PRIMITIVE);
    context.addShape(shape);
    EXPECT_EQ(context.persistentScene->getShapes().find(2), shape);
    EXPECT_EQ(context.frameScene->getShapes().find(2), nullptr);
    EXPECT_EQ(shape->referenceCount(), 1);
}

TEST_F(QmContextScenes, InAFrameTheLaterShapeOfAnIdentifierPersists) {
    context.inFrame = true;
    auto* first = new FakeShape(2, QM_SHAPE_PRIMITIVE);
    auto* second = new FakeShape(2, QM_SHAPE_FEEDBACK_BUFFER);
    context.addShape(first);
    context.addShape(second);
    EXPECT_EQ(context.frameScene->getShapes().find(2), second);
    EXPECT_EQ(context.persistentScene->getShapes().find(2), second);
    EXPECT_EQ(gDestroyed, 1);
    context.addShape(second);  // the same object: nothing changes
    EXPECT_EQ(second->referenceCount(), 2);
}

// A placeholder leaves the older shape in the persistent scene; outside a
// frame nothing keeps it, so it is destroyed rather than leaked.
TEST_F(QmContextScenes, APlaceholderKeepsTheOlderShape) {
    auto* real = new FakeShape(5, QM_SHAPE_PRIMITIVE);
    context.addShape(real);
    context.addShape(new FakeShape(5, QM::QM_INT_SHAPE_BASE));
    EXPECT_EQ(context.persistentScene->getShapes().find(5), real);
    EXPECT_EQ(gDestroyed, 1);
    context.inFrame = true;
    auto* placeholder = new FakeShape(5, QM::QM_INT_SHAPE_BASE);
    context.addShape(placeholder);
    EXPECT_EQ(context.frameScene->getShapes().find(5), placeholder);
    EXPECT_EQ(context.persistentScene->getShapes().find(5), real);
    // A placeholder of a new identifier is stored.
    auto* fresh = new FakeShape(6, QM::QM_INT_SHAPE_BASE);
    context.addShape(fresh);
    EXPECT_EQ(context.persistentScene->getShapes().find(6), fresh);
}

TEST_F(QmContextScenes, EffectsFollowTheSameRules) {
    auto* running = new FakeEffect(1, QM_EFFECT_CONSTANT);
    context.inFrame = true;
    context.addEffect(running);
    context.addEffect(new FakeEffect(1, QM::QM_INT_EFFECT_BASE));
    EXPECT_EQ(context.persistentScene->getEffects().find(1), running);
    EXPECT_EQ(context.frameScene->getEffects().find(1)->getType(), QM::QM_INT_EFFECT_BASE);
    context.addEffect(nullptr);
}

}  // namespace
