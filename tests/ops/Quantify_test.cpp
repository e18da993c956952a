// Projection and relational product: the reference effects, the release of intermediates, and
// the cache keyed by a run's first variable.
#include "engine/OpCache.h"
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

namespace {

int count(Node n) { return refCountOf(nodeOf(n)); }

class QuantifyTest : public EngineTest {
protected:
    // Two bits at 0, three bits at 3 (after a gap), two bits at 6.
    TestLayout layout{{0, 3, 6}, {2, 3, 2}};
    Node a = 0, b = 0;
    void SetUp() override {
        EngineTest::SetUp();
        a = tupleSet(layout, {{0, 5, 1}, {2, 3, 3}, {3, 5, 0}, {1, 0, 2}});
        b = tupleSet(layout, {{1, 5, 1}, {2, 3, 1}, {0, 7, 3}});
    }
};

TEST_F(QuantifyTest, WhatTheSetDoesNotTestComesBackWithAReference) {
    const int ca = count(a);
    EXPECT_EQ(existsVar(a, 2), a);  // the gap
    EXPECT_EQ(exists(a, 0, 0), a);
    EXPECT_EQ(exists(a, 8, 5), a);
    EXPECT_EQ(relprod(a, b, 3, 0), intersect(a, b));
    EXPECT_EQ(count(a), ca + 3);
    EXPECT_EQ(exists(a, 0, 8), one);
    EXPECT_EQ(exists(zero, 0, 8), zero);
}

TEST_F(QuantifyTest, ARunIsCachedByItsFirstVariable) {
    const Node wide = exists(a, 3, 3);
    EXPECT_EQ(exists(a, 3, 1), wide);  // the entry of the first call answers
    clearOpCache();
    EXPECT_NE(exists(a, 3, 1), wide);
}

TEST_F(QuantifyTest, IntermediatesAreQueuedAndNothingIsLeft) {
    const int32_t held = drainedOccupied();
    const int ca = count(a), cb = count(b);
    // The releases wait in the engine's own buffer until the native call ends, as flushed here.
    const Node p = exists(a, 0, 5);
    flushHeldReleases();
    const int32_t afterExists = finalizedNodesPos;
    EXPECT_GT(afterExists, 0);
    const Node q = relprod(a, b, 3, 3);
    flushHeldReleases();
    EXPECT_GT(finalizedNodesPos, afterExists);
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
        flushHeldReleases();
        EXPECT_EQ(finalizedNodesPos > queued, gc != 0);
        EXPECT_EQ(e, tupleSet(TestLayout{{3}, {2}}, {{1}, {3}})) << "gc " << gc;
        EXPECT_EQ(r, tupleSet(TestLayout{{0}, {2}}, {{2}})) << "gc " << gc;
    }
}

}  // namespace
