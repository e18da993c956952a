// Projection and relational product: identities, reference effects, the release of intermediates,
// and the checks of the entry forms.
#include "engine/OpCache.h"
#include "jni/CallFrame.h"
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

#include <climits>

namespace {

class QuantifyTest : public EngineTest {
protected:
    // Three fields: two bits at 0, three bits at 3 (after a gap), two bits at 6.
    TestLayout layout{{0, 3, 6}, {2, 3, 2}};
    Node a = 0, b = 0;
    void SetUp() override {
        EngineTest::SetUp();
        a = tupleSet(layout, {{0, 5, 1}, {2, 3, 3}, {3, 5, 0}, {1, 0, 2}});
        b = tupleSet(layout, {{1, 5, 1}, {2, 3, 1}, {0, 7, 3}});
    }
    static int count(Node n) { return refCountOf(nodeOf(n)); }
    Node set(const std::vector<std::vector<int32_t>>& tuples) { return tupleSet(layout, tuples); }
};

TEST_F(QuantifyTest, ProjectionOfAField) {
    // Without field 1 (variables 3..5) the set keeps fields 0 and 2 with field 1 free.
    const TestLayout outer{{0, 6}, {2, 2}};
    const Node expected = tupleSet(outer, {{0, 1}, {2, 3}, {3, 0}, {1, 2}});
    EXPECT_EQ(exists(a, 3, 3), expected);
    // Variable by variable gives the same.
    Node step = existsVar(a, 3);
    step = existsVar(step, 4);
    EXPECT_EQ(existsVar(step, 5), expected);
    EXPECT_EQ(exists(a, 0, 8), one);
    EXPECT_EQ(exists(zero, 0, 8), zero);
    EXPECT_EQ(existsVar(zero, 3), zero);
}

TEST_F(QuantifyTest, RunsAndVariablesTheSetDoesNotTestReturnTheArgument) {
    const int ca = count(a);
    EXPECT_EQ(existsVar(a, 2), a);  // the gap
    EXPECT_EQ(exists(a, 0, 0), a);
    EXPECT_EQ(exists(a, 8, 5), a);
    EXPECT_EQ(count(a), ca + 3);
}

TEST_F(QuantifyTest, RelprodIdentities) {
    EXPECT_EQ(relprod(a, one, 3, 3), exists(a, 3, 3));
    EXPECT_EQ(relprod(one, b, 0, 2), exists(b, 0, 2));
    EXPECT_EQ(relprod(a, b, 3, 0), intersect(a, b));
    EXPECT_EQ(relprod(zero, b, 3, 3), zero);
    EXPECT_EQ(relprod(one, one, 3, 3), one);
    for (int32_t first = 0; first < 8; ++first) {
        for (int32_t n = 1; first + n <= 8; ++n) {
            clearOpCache();  // a run is identified by its first variable alone
            const Node both = intersect(a, b);
            EXPECT_EQ(relprod(a, b, first, n), exists(both, first, n)) << first << "+" << n;
            EXPECT_EQ(relprod(b, a, first, n), exists(both, first, n)) << first << "+" << n;
        }
    }
}

TEST_F(QuantifyTest, ARunIsCachedByItsFirstVariable) {
    const Node wide = exists(a, 3, 3);
    EXPECT_EQ(exists(a, 3, 1), wide);  // the entry of the first call answers
    clearOpCache();
    EXPECT_NE(exists(a, 3, 1), wide);
}

TEST_F(QuantifyTest, IntermediatesAreQueuedAndNothingIsLeft) {
    collectGarbage();
    const int32_t held = drainedOccupied();
    const int ca = count(a), cb = count(b);
    ASSERT_EQ(finalizedNodesPos, 0);
    const Node p = exists(a, 0, 5);
    EXPECT_GT(finalizedNodesPos, 0);
    const Node q = relprod(a, b, 3, 3);
    EXPECT_EQ(count(a), ca);
    EXPECT_EQ(count(b), cb);
    EXPECT_EQ(count(p), 1);
    doDecRefCount(p, nullptr);
    doDecRefCount(q, nullptr);
    EXPECT_EQ(drainedOccupied(), held);
}

TEST(QuantifyWithoutCollection, NothingIsQueuedAndResultsAreTheSame) {
    const TestLayout l{{0, 3}, {2, 2}};
    for (const int32_t gc : {1, 0}) {
        startEngine(1 << 20, 1 << 20, 0, gc);
        const Node x = tupleSet(l, {{0, 1}, {2, 3}, {3, 1}});
        const Node y = tupleSet(l, {{1, 1}, {2, 3}, {3, 0}});
        const int32_t queued = finalizedNodesPos;
        const Node e = exists(x, 0, 2);
        const Node r = relprod(x, y, 3, 2);
        EXPECT_EQ(finalizedNodesPos > queued, gc != 0);
        EXPECT_EQ(e, tupleSet(TestLayout{{3}, {2}}, {{1}, {3}})) << "gc " << gc;
        EXPECT_EQ(r, tupleSet(TestLayout{{0}, {2}}, {{2}})) << "gc " << gc;
    }
}

TEST_F(QuantifyTest, AStackTooShallowLeavesNothingBehind) {
    const int32_t held = drainedOccupied();
    char* const base = static_cast<char*>(__builtin_frame_address(0));
    int failures = 0;
    Node result = 0;
    for (int32_t room = 0; result == 0; room += 64) {
        const std::string message = engineErrorOf([&] {
            stackLimit = base - room;
            result = relprod(a, b, 3, 3);
        });
        stackLimit = threadStackLimit();
        if (result != 0) break;
        ASSERT_EQ(message, "Assert failed: Stack exhausted");
        ++failures;
        EXPECT_EQ(drainedOccupied(), held) << "room " << room;
    }
    EXPECT_GT(failures, 3);
    EXPECT_EQ(result, exists(intersect(a, b), 3, 3));
}

TEST_F(QuantifyTest, EntryFormsCheckVariablesAndRuns) {
    const std::string invalid = "Assert failed: Invalid variable";
    EXPECT_EQ(engineErrorOf([&] { existsVarEntry(a, 32766); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { existsVarEntry(a, -1); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { existsVarEntry(a, 32765); }), "");
    EXPECT_EQ(engineErrorOf([&] { existsEntry(a, 32760, 7); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { existsEntry(a, 1, INT_MAX); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { existsEntry(a, INT_MAX, INT_MAX); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { existsEntry(a, -2, 5); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { relprodEntry(a, b, 32765, 2); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { relprodEntry(a, b, 32760, 6); }), "");

    // A run of no variables quantifies nothing, wherever it starts; the cache is not consulted.
    const Node wide = existsEntry(a, 3, 3);
    const int ca = count(a);
    EXPECT_EQ(existsEntry(a, 3, 0), a);
    EXPECT_EQ(existsEntry(a, 40000, -4), a);
    EXPECT_EQ(count(a), ca + 2);
    EXPECT_EQ(relprodEntry(a, b, 3, 0), intersect(a, b));
    EXPECT_EQ(relprodEntry(a, b, INT_MIN, INT_MIN), intersect(a, b));
    EXPECT_EQ(existsEntry(a, 3, 3), wide);
}

}  // namespace
