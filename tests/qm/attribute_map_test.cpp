// Typed attributes, plain maps and the stacked map's routing.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qm/api/Symbols.h"
#include "qm/state/AttributeMap.h"

namespace {

using QM::AttribCallback;
using QM::AttribKind;
using QM::AttributeMap;
using QM::StackedAttributeMap;

// Keys of their own, so that the tests do not depend on what the library
// declares anywhere.
const char kTexts[] = "ABC";
const QMenum kA = kTexts + 0;
const QMenum kB = kTexts + 1;
const QMenum kC = kTexts + 2;

void callbackA() {}

// A declared key that was never set cannot be read, and its output is left
// alone: an unset rotation or matrix must not read as zeros.
TEST(QmAttributeMap, DeclaredButUnsetCannotBeRead) {
    AttributeMap map;
    map.declare<float>(kA);
    map.declareArray<double>(kB, 3);
    EXPECT_TRUE(map.has(kA));
    EXPECT_FALSE(map.isSet(kA));
    float f = 7.0f;
    EXPECT_FALSE(map.get<float>(kA, f));
    EXPECT_EQ(f, 7.0f);
    double v[3] = {1, 1, 1};
    EXPECT_FALSE(map.getArray<double>(kB, v));
    EXPECT_EQ(v[0] + v[1] + v[2], 3.0);
    EXPECT_TRUE(map.set<float>(kA, 2.5f));
    EXPECT_TRUE(map.isSet(kA));
    EXPECT_TRUE(map.get<float>(kA, f));
    EXPECT_EQ(f, 2.5f);
}

// Copying an unset value succeeds (the types match) but neither changes the
// target's value nor marks it set.
TEST(QmAttributeMap, CopyingAnUnsetValueLeavesTheTargetAlone) {
    AttributeMap source;
    source.declareArray<double>(kA, 3);
    source.declare<bool>(kB);
    AttributeMap target;
    target.declareArray<double>(kA, 3);
    target.declare<bool>(kB);
    target.set<bool>(kB, true);
    EXPECT_TRUE(target.copyFrom(kA, source));
    EXPECT_TRUE(target.copyFrom(kB, source));
    EXPECT_FALSE(target.isSet(kA));
    bool b = false;
    EXPECT_TRUE(target.get<bool>(kB, b));
    EXPECT_TRUE(b);
}

// A set or get fails, changing nothing, for an undeclared key and for every
// mismatch of type or of scalar and array.
TEST(QmAttributeMap, TypeAndFormMismatchesFail) {
    AttributeMap map;
    map.declare<double>(kA);
    map.set<double>(kA, 1.5);
    map.declareArray<double>(kB, 2);
    const double two[2] = {1, 2};
    map.setArray<double>(kB, two);

    float f = 0;
    std::int32_t i = 0;
    bool b = false;
    QMenum s = nullptr;
    void* p = nullptr;
    AttribCallback cb = nullptr;
    double d = 0;
    double dv[2] = {};
    float fv[2] = {};
    EXPECT_FALSE(map.get<float>(kA, f));
    EXPECT_FALSE(map.get<std::int32_t>(kA, i));
    EXPECT_FALSE(map.get<bool>(kA, b));
    EXPECT_FALSE(map.get<QMenum>(kA, s));
    EXPECT_FALSE(map.get<void*>(kA, p));
    EXPECT_FALSE(map.get<AttribCallback>(kA, cb));
    EXPECT_FALSE(map.getArray<double>(kA, dv));
    EXPECT_FALSE(map.get<double>(kB, d));
    EXPECT_FALSE(map.getArray<float>(kB, fv));
    EXPECT_FALSE(map.get<double>(kC, d));
    EXPECT_FALSE(map.set<float>(kA, 1.0f));
    EXPECT_FALSE(map.set<double>(kB, 1.0));
    EXPECT_FALSE(map.set<double>(kC, 1.0));
    EXPECT_FALSE(map.has(kC));
    EXPECT_TRUE(map.get<double>(kA, d));
    EXPECT_EQ(d, 1.5);
}

TEST(QmAttributeMap, RedeclaringKeepsTheFirstDeclaration) {
    AttributeMap map;
    map.declare<std::int32_t>(kA);
    map.set<std::int32_t>(kA, 5);
    map.declare<float>(kA);
    map.declare<std::int32_t>(kA);
    std::int32_t i = 0;
    EXPECT_TRUE(map.get<std::int32_t>(kA, i));
    EXPECT_EQ(i, 5);
    map.declareArray<double>(kB, 0);  // no such array
    EXPECT_FALSE(map.has(kB));
}

// One key per value type. Keys are compared by address, so each is a named
// object rather than a string literal.
const char kKeyTexts[] = "ifdbcpsIFDB";
const QMenum k_i = kKeyTexts + 0, k_f = kKeyTexts + 1, k_d = kKeyTexts + 2, k_b = kKeyTexts + 3, k_c = kKeyTexts + 4,
             k_p = kKeyTexts + 5, k_s = kKeyTexts + 6, k_iv = kKeyTexts + 7, k_fv = kKeyTexts + 8, k_dv = kKeyTexts + 9,
             k_bv = kKeyTexts + 10;

TEST(QmAttributeMap, EveryValueTypeRoundTrips) {
    AttributeMap map;
    int target = 0;
    map.declare<std::int32_t>(k_i);
    map.declare<float>(k_f);
    map.declare<double>(k_d);
    map.declare<bool>(k_b);
    map.declare<AttribCallback>(k_c);
    map.declare<void*>(k_p);
    map.declare<QMenum>(k_s);
    map.declareArray<std::int32_t>(k_iv, 2);
    map.declareArray<float>(k_fv, 2);
    map.declareArray<double>(k_dv, 2);
    map.declareArray<bool>(k_bv, 2);
    EXPECT_TRUE(map.set<std::int32_t>(k_i, -3));
    EXPECT_TRUE(map.set<float>(k_f, 0.25f));
    EXPECT_TRUE(map.set<double>(k_d, 1e300));
    EXPECT_TRUE(map.set<bool>(k_b, true));
    EXPECT_TRUE(map.set<AttribCallback>(k_c, &callbackA));
    EXPECT_TRUE(map.set<void*>(k_p, &target));
    EXPECT_TRUE(map.set<QMenum>(k_s, QM_FRONT));
    const std::int32_t iv[2] = {1, -1};
    const float fv[2] = {0.5f, 1.5f};
    const double dv[2] = {2.5, 3.5};
    const bool bv[2] = {true, false};
    EXPECT_TRUE(map.setArray<std::int32_t>(k_iv, iv));
    EXPECT_TRUE(map.setArray<float>(k_fv, fv));
    EXPECT_TRUE(map.setArray<double>(k_dv, dv));
    EXPECT_TRUE(map.setArray<bool>(k_bv, bv));

    std::int32_t i = 0;
    float f = 0;
    double d = 0;
    bool b = false;
    AttribCallback c = nullptr;
    void* p = nullptr;
    QMenum s = nullptr;
    std::int32_t iv2[2] = {};
    float fv2[2] = {};
    double dv2[2] = {};
    bool bv2[2] = {};
    EXPECT_TRUE(map.get<std::int32_t>(k_i, i) && i == -3);
    EXPECT_TRUE(map.get<float>(k_f, f) && f == 0.25f);
    EXPECT_TRUE(map.get<double>(k_d, d) && d == 1e300);
    EXPECT_TRUE(map.get<bool>(k_b, b) && b);
    EXPECT_TRUE(map.get<AttribCallback>(k_c, c) && c == &callbackA);
    EXPECT_TRUE(map.get<void*>(k_p, p) && p == &target);
    EXPECT_TRUE(map.get<QMenum>(k_s, s) && s == QM_FRONT);
    EXPECT_TRUE(map.getArray<std::int32_t>(k_iv, iv2) && iv2[0] == 1 && iv2[1] == -1);
    EXPECT_TRUE(map.getArray<float>(k_fv, fv2) && fv2[1] == 1.5f);
    EXPECT_TRUE(map.getArray<double>(k_dv, dv2) && dv2[0] == 2.5);
    EXPECT_TRUE(map.getArray<bool>(k_bv, bv2) && bv2[0] && !bv2[1]);
}

TEST(QmAttributeMap, KeysIterateInMapOrder) {
    AttributeMap map;
    const char texts[] = "xyz";
    const QMenum keys[] = {texts + 2, texts + 0, texts + 1};
    for (QMenum key : keys) {
        map.declare<bool>(key);
    }
    std::vector<QMenum> seen;
    for (auto it = map.keys(); !it->atEnd(); it->advance()) {
        seen.push_back(it->current());
    }
    EXPECT_EQ(seen, (std::vector<QMenum>{texts + 0, texts + 1, texts + 2}));
}

TEST(QmAttributeMap, PrintFormats) {
    AttributeMap map;
    map.declare<QMenum>(kA);
    map.set<QMenum>(kA, QM_CONTACT);
    map.declareArray<double>(kB, 3);
    const double v[3] = {1, 2.5, -3};
    map.setArray<double>(kB, v);
    map.declare<QMenum>(kC);  // null symbol
    std::ostringstream out;
    EXPECT_TRUE(map.printValue(kA, out));
    out << '|';
    EXPECT_TRUE(map.printValue(kB, out));
    out << '|';
    EXPECT_TRUE(map.printValue(kC, out));
    EXPECT_FALSE(map.printValue(kTexts + 3, out));
    EXPECT_EQ(out.str(), "QM_CONTACT|1, 2.5, -3, |(null)");
}

TEST(QmAttributeMap, DescribeAndDeclareLike) {
    AttributeMap source;
    source.declareArray<float>(kA, 4);
    source.declare<QMenum>(kB);
    AttributeMap target;
    for (QMenum key : {kA, kB}) {
        const auto description = source.describe(key);
        ASSERT_TRUE(description.has_value());
        EXPECT_TRUE(QM::declareLike(target, key, *description));
    }
    EXPECT_EQ(target.describe(kA)->kind, AttribKind::FloatArray);
    EXPECT_EQ(target.describe(kA)->count, 4);
    EXPECT_EQ(target.describe(kB)->kind, AttribKind::Symbol);
    EXPECT_EQ(target.describe(kB)->count, 0);
    EXPECT_FALSE(target.isSet(kA));
    EXPECT_FALSE(source.describe(kC).has_value());
}

TEST(QmAttributeMap, CopyFromFollowsAssignRules) {
    AttributeMap source;
    source.declareArray<double>(kA, 3);
    const double v[3] = {1, 2, 3};
    source.setArray<double>(kA, v);
    source.declareArray<double>(kB, 2);
    AttributeMap target;
    target.declareArray<double>(kA, 3);
    target.declareArray<double>(kC, 3);
    EXPECT_TRUE(target.copyFrom(kA, source));
    EXPECT_TRUE(target.copyFrom(kC, source, kA));
    EXPECT_FALSE(target.copyFrom(kC, source, kB));  // count mismatch
    EXPECT_FALSE(target.copyFrom(kB, source));      // not declared here
    double out[3] = {};
    EXPECT_TRUE(target.getArray<double>(kC, out));
    EXPECT_EQ(out[2], 3.0);
    EXPECT_TRUE(target.isSet(kC));
}

TEST(QmAttributeMap, CloneCopiesValueAndSetFlag) {
    QM::Attrib<double> a;
    a.set(4.5);
    auto copy = a.clone();
    EXPECT_TRUE(copy->isSet());
    EXPECT_EQ(copy->kind(), AttribKind::Double);
    EXPECT_EQ(static_cast<QM::Attrib<double>&>(*copy).value(), 4.5);
    QM::Attribv<bool> bits(3);
    EXPECT_FALSE(bits.clone()->isSet());
    EXPECT_EQ(bits.clone()->count(), 3);
}

// ---------------------------------------------------------------- stacked

TEST(QmStackedAttributeMap, APushedDeclarationCapturesWritesButHidesNoReads) {
    StackedAttributeMap stack;
    stack.declare<float>(kA);
    stack.set<float>(kA, 1.0f);
    auto pushed = std::make_unique<AttributeMap>();
    pushed->declare<float>(kA);
    stack.push(std::move(pushed));
    float f = 0;
    EXPECT_TRUE(stack.get<float>(kA, f));
    EXPECT_EQ(f, 1.0f);
    EXPECT_TRUE(stack.set<float>(kA, 2.0f));
    EXPECT_TRUE(stack.get<float>(kA, f));
    EXPECT_EQ(f, 2.0f);
    EXPECT_EQ(stack.depth(), 2u);
    EXPECT_TRUE(stack.pop());
    EXPECT_TRUE(stack.get<float>(kA, f));
    EXPECT_EQ(f, 1.0f);
}

TEST(QmStackedAttributeMap, RoutingRules) {
    StackedAttributeMap stack;
    stack.declare<bool>(kA);  // declared in the base, unset
    float f = 0;
    bool b = true;
    EXPECT_TRUE(stack.has(kA));
    EXPECT_FALSE(stack.isSet(kA));
    EXPECT_FALSE(stack.get<bool>(kA, b));      // no map has it set
    EXPECT_FALSE(stack.set<float>(kB, 1.0f));  // declared nowhere
    EXPECT_FALSE(stack.has(kB));
    stack.push(std::make_unique<AttributeMap>());
    stack.declare<float>(kB);  // declarations go to the top
    EXPECT_TRUE(stack.set<float>(kB, 3.0f));
    EXPECT_TRUE(stack.get<float>(kB, f));
    EXPECT_TRUE(stack.set<bool>(kA, true));  // to the base, the only map declaring it
    EXPECT_EQ(stack.keys(), nullptr);
    EXPECT_EQ(stack.describe(kB)->kind, AttribKind::Float);
    stack.pop();
    EXPECT_FALSE(stack.has(kB));  // went with the popped map
    EXPECT_TRUE(stack.get<bool>(kA, b));
    EXPECT_TRUE(b);
}

TEST(QmStackedAttributeMap, TheBaseMapIsNeverPopped) {
    StackedAttributeMap stack;
    stack.declare<double>(kA);
    stack.set<double>(kA, 9.0);
    EXPECT_FALSE(stack.pop());
    EXPECT_EQ(stack.depth(), 1u);
    double d = 0;
    EXPECT_TRUE(stack.get<double>(kA, d));
    EXPECT_EQ(d, 9.0);
}

// mapFor answers the map holding the value in force, which is where copies
// from a stack read.
TEST(QmStackedAttributeMap, CopiesReadTheValueInForce) {
    StackedAttributeMap stack;
    stack.declare<std::int32_t>(kA);
    stack.set<std::int32_t>(kA, 1);
    auto pushed = std::make_unique<AttributeMap>();
    pushed->declare<std::int32_t>(kA);
    AttributeMap* top = pushed.get();
    stack.push(std::move(pushed));
    EXPECT_NE(stack.mapFor(kA), top);  // unset on top: the base holds the value
    AttributeMap target;
    target.declare<std::int32_t>(kA);
    EXPECT_TRUE(target.copyFrom(kA, stack));
    std::int32_t i = 0;
    target.get<std::int32_t>(kA, i);
    EXPECT_EQ(i, 1);
    stack.set<std::int32_t>(kA, 2);
    EXPECT_EQ(stack.mapFor(kA), top);
    EXPECT_TRUE(target.copyFrom(kA, stack));
    target.get<std::int32_t>(kA, i);
    EXPECT_EQ(i, 2);
    // Copying into a stack writes the topmost declaring map.
    AttributeMap source;
    source.declare<std::int32_t>(kA);
    source.set<std::int32_t>(kA, 3);
    EXPECT_TRUE(stack.copyFrom(kA, source));
    stack.pop();
    stack.get<std::int32_t>(kA, i);
    EXPECT_EQ(i, 1);
}

}  // namespace
