// Counts, the release queue and its held buffer, collections and their two assertion messages.
#include "support/TestJvm.h"

#include "jni/HostContract.h"

#include <vector>

namespace {

// Thread.holdsLock(BDDNativeProxy.syncObject) on the test thread.
bool testThreadHoldsTheMonitor() {
    jclass thread = testEnv->FindClass("java/lang/Thread");
    jmethodID holdsLock = testEnv->GetStaticMethodID(thread, "holdsLock", "(Ljava/lang/Object;)Z");
    return testEnv->CallStaticBooleanMethod(thread, holdsLock, testEnv->GetStaticObjectField(syncCls, syncFieldID));
}

}  // namespace

TEST_F(EngineTest, WithCollectionOffReleasesChangeNothing) {
    startEngine(1000, 1000, 0, 0);
    const Node n = cacheNode(4, zero, one);
    decRefCount(n);
    holdRelease(n);
    collectGarbage();
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(count(n), 1);
    doDecRefCount(n);  // lowers, but never frees
    EXPECT_EQ(count(n), 0);
    EXPECT_EQ(nodeCacheOccupied, 1);
}

// The queue doubles as soon as it fills, and never shrinks.
TEST_F(EngineTest, HeldReleasesJoinTheQueueInOrderWhenTheBufferFillsAndAtACollection) {
    for (int i = 0; i < 1000; ++i) decRefCount(one);
    EXPECT_EQ(finalizedNodesLength, 2000);
    collectGarbage();
    std::vector<Node> nodes;
    for (int v = 0; v < 5000; ++v) nodes.push_back(cacheNode(v, zero, one));
    for (const Node n : nodes) holdRelease(n);
    EXPECT_EQ(finalizedNodesPos, 4096) << "a full buffer moves to the queue at once";
    for (int i = 0; i < finalizedNodesPos; ++i) ASSERT_EQ(finalizedNodes[i], nodes[static_cast<size_t>(i)]);
    EXPECT_EQ(heldReleasesCount, 5000 - 4096);
    EXPECT_EQ(finalizedNodesLength, 8000);
    collectGarbage();
    EXPECT_EQ(heldReleasesCount, 0);
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(finalizedNodesLength, 8000);
    EXPECT_EQ(nodeCacheOccupied, 0);
}

// A failing collection raises, lets the monitor go, and counts the failing entry as done: the next
// one goes on after it.
TEST_F(EngineTest, AFailedCollectionLetsTheMonitorGoAndNeverRepeatsARelease) {
    startEngine(1000, 1000, 100, 1);
    const Node x = cacheNode(3, zero, one), y = cacheNode(4, zero, one);
    decRefCount(x);
    decRefCount(x);  // fails: x had one reference
    decRefCount(y);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: Negative refcount");
    EXPECT_FALSE(testThreadHoldsTheMonitor());
    {
        MonitorLock lock(testEnv);
        EXPECT_TRUE(testThreadHoldsTheMonitor()) << "the probe sees a held monitor";
    }
    EXPECT_NE(nodeOf(y).id, freedStamp) << "entries after the failing one wait";
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(nodeOf(y).id, freedStamp);
    EXPECT_EQ(count(x), -1);
    EXPECT_EQ(finalizedNodesDone, 0);

    const Node n = cacheNode(5, zero, one);
    const int32_t h = nodeHashCode(5, zero, one);
    ASSERT_EQ(nodeCache[h], n);
    nodeCache[h] = nodeOf(n).next;  // unlinked behind the store's back
    decRefCount(n);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: There must be an entry");
    EXPECT_FALSE(testThreadHoldsTheMonitor());

    // With locking off the monitor is never taken.
    startEngine(1000, 1000, 0, 1);
    EXPECT_EQ(monitorEnter(testEnv), nullptr);
}

TEST_F(EngineTest, InnerCountsSaturateAndTerminalCountsWrap) {
    const Node n = cacheNode(3, zero, one);
    for (int i = 0; i < 20000; ++i) incRefCount(n);
    EXPECT_EQ(count(n), 16383);
    for (int i = 0; i < 20000; ++i) decRefCount(n);
    collectGarbage();
    EXPECT_EQ(count(n), 16383) << "a saturated node lives for good";
    EXPECT_EQ(cacheNode(2, n, n), n) << "make-node's plain lowering leaves it alone too";
    EXPECT_EQ(count(n), 16383);

    for (int i = 0; i < 16384; ++i) incRefCount(one);
    EXPECT_EQ(count(one), -16384);
    for (int i = 0; i < 16385; ++i) decRefCount(zero);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(count(zero), 16383);
    EXPECT_TRUE(isMarked(nodeOf(zero))) << "the count never touches the mark";
    EXPECT_NE(nodeOf(zero).id, freedStamp);
}
