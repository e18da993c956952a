// Counts, the release queue, collections and their two assertion messages.
#include "support/TestJvm.h"

#include "jni/HostContract.h"

#include <vector>

namespace {

// Thread.holdsLock(BDDNativeProxy.syncObject) on the test thread.
bool testThreadHoldsTheMonitor() {
    jclass thread = testEnv->FindClass("java/lang/Thread");
    jmethodID holdsLock = testEnv->GetStaticMethodID(thread, "holdsLock", "(Ljava/lang/Object;)Z");
    jobject sync = testEnv->GetStaticObjectField(syncCls, syncFieldID);
    return testEnv->CallStaticBooleanMethod(thread, holdsLock, sync) != JNI_FALSE;
}

}  // namespace

TEST_F(EngineTest, WithCollectionOffReleasesChangeNothing) {
    startEngine(1000, 1000, 0, 0);
    const Node n = cacheNode(4, zero, one);
    for (int i = 0; i < 3; ++i) decRefCount(testEnv, n);
    collectGarbage();
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(refCountOf(nodeOf(n)), 1);
    doDecRefCount(n, nullptr);  // lowers, but never frees
    EXPECT_EQ(refCountOf(nodeOf(n)), 0);
    EXPECT_NE(nodeOf(n).id, freedStamp);
    EXPECT_EQ(nodeCacheOccupied, 1);
}

TEST_F(EngineTest, QueueDoublesWhenItFills) {
    for (int i = 0; i < 999; ++i) decRefCount(testEnv, one);
    EXPECT_EQ(finalizedNodesLength, 1000);
    decRefCount(testEnv, one);
    EXPECT_EQ(finalizedNodesLength, 2000);
    for (int i = 1000; i < 1999; ++i) decRefCount(testEnv, one);
    EXPECT_EQ(finalizedNodesLength, 2000);
    decRefCount(testEnv, one);
    EXPECT_EQ(finalizedNodesLength, 4000);
    EXPECT_EQ(finalizedNodesPos, 2000);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(finalizedNodes[i], one);
    collectGarbage();
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(finalizedNodesLength, 4000) << "the queue never shrinks";
}

TEST_F(EngineTest, ReleasesQueuedTwice) {
    const Node twice = cacheNode(3, zero, one);
    addRef(twice);
    decRefCount(testEnv, twice);
    decRefCount(testEnv, twice);
    collectGarbage();
    EXPECT_EQ(nodeOf(twice).id, freedStamp);

    const Node once = cacheNode(3, zero, one);
    decRefCount(testEnv, once);
    decRefCount(testEnv, once);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: Negative refcount");
    EXPECT_EQ(refCountOf(nodeOf(once)), -1) << "the lowered count stays stored";
}

TEST_F(EngineTest, AFailedCollectionNeverRepeatsARelease) {
    const Node x = cacheNode(3, zero, one);
    const Node y = cacheNode(4, zero, one);
    const Node z = cacheNode(5, zero, one);
    decRefCount(testEnv, y);
    decRefCount(testEnv, x);
    decRefCount(testEnv, x);  // fails: x had one reference
    decRefCount(testEnv, z);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: Negative refcount");
    EXPECT_EQ(nodeOf(y).id, freedStamp);
    EXPECT_NE(nodeOf(z).id, freedStamp) << "entries after the failing one wait";

    // The next collection goes on after the failing entry: y and x are not lowered again.
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(nodeOf(z).id, freedStamp);
    EXPECT_EQ(refCountOf(nodeOf(x)), -1);
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(finalizedNodesDone, 0);
}

TEST_F(EngineTest, ANodeMissingFromItsBucket) {
    const Node n = cacheNode(3, zero, one);
    const int32_t h = nodeHashCode(3, zero, one);
    ASSERT_EQ(nodeCache[h], n);
    nodeCache[h] = nodeOf(n).next;  // unlink it behind the store's back
    decRefCount(testEnv, n);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: There must be an entry");
    EXPECT_EQ(refCountOf(nodeOf(n)), 0);
    EXPECT_EQ(nodeOf(n).id, freedStamp);
    EXPECT_NE(firstFreeNode, n);
}

TEST_F(EngineTest, ACollectionThatFailsLetsTheMonitorGo) {
    startEngine(1000, 1000, 100, 1);
    ASSERT_EQ(synchronizeOnGC, 1);
    const Node n = cacheNode(3, zero, one);
    decRefCount(testEnv, n);
    decRefCount(testEnv, n);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "Assert failed: Negative refcount");
    EXPECT_FALSE(testThreadHoldsTheMonitor());
    {
        MonitorLock lock(testEnv);
        EXPECT_TRUE(testThreadHoldsTheMonitor());
    }
    EXPECT_FALSE(testThreadHoldsTheMonitor());
}

TEST_F(EngineTest, WithLockingOffTheMonitorIsNeverTaken) {
    startEngine(1000, 1000, 0, 1);
    EXPECT_EQ(monitorEnter(testEnv), nullptr);
    MonitorLock lock(testEnv);
    EXPECT_FALSE(lock.failed());
    EXPECT_FALSE(testThreadHoldsTheMonitor());
}

TEST_F(EngineTest, InnerCountsSaturate) {
    const Node n = cacheNode(3, zero, one);
    for (int i = 0; i < 20000; ++i) incRefCount(n);
    EXPECT_EQ(refCountOf(nodeOf(n)), 16383);
    for (int i = 0; i < 20000; ++i) decRefCount(testEnv, n);
    collectGarbage();
    EXPECT_EQ(refCountOf(nodeOf(n)), 16383);
    EXPECT_NE(nodeOf(n).id, freedStamp) << "a saturated node lives for good";
    // Make-node's plain lowering leaves it alone too.
    EXPECT_EQ(cacheNode(2, n, n), n);
    EXPECT_EQ(refCountOf(nodeOf(n)), 16383);
}

TEST_F(EngineTest, TerminalCountsWrapAndNeverFree) {
    for (int i = 0; i < 16384; ++i) incRefCount(one);
    EXPECT_EQ(refCountOf(nodeOf(one)), -16384);
    for (int i = 0; i < 16385; ++i) decRefCount(testEnv, zero);
    EXPECT_EQ(engineErrorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(refCountOf(nodeOf(zero)), 16383);
    EXPECT_TRUE(isMarked(nodeOf(zero))) << "the count never touches the mark";
    EXPECT_NE(nodeOf(zero).id, freedStamp);
}

TEST_F(EngineTest, ReleaseOnUnwindFreesAtOnce) {
    const Node n = cacheNode(3, zero, one);
    releaseOnUnwind(n);
    EXPECT_EQ(nodeOf(n).id, freedStamp);
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(nodeCacheOccupied, 0);
}

TEST_F(EngineTest, HeldReleasesJoinTheQueueInOrderWhenTheBufferFillsAndAtACollection) {
    std::vector<Node> nodes;
    for (int v = 0; v < 5000; ++v) nodes.push_back(cacheNode(v, zero, one));
    const int32_t occupied = nodeCacheOccupied;
    for (const Node n : nodes) holdRelease(n);
    EXPECT_EQ(finalizedNodesPos, 4096) << "a full buffer moves to the queue at once";
    for (int i = 0; i < finalizedNodesPos; ++i) ASSERT_EQ(finalizedNodes[i], nodes[static_cast<size_t>(i)]);
    EXPECT_EQ(heldReleasesCount, 5000 - 4096);
    collectGarbage();
    EXPECT_EQ(heldReleasesCount, 0);
    EXPECT_EQ(finalizedNodesPos, 0);
    for (const Node n : nodes) ASSERT_EQ(nodeOf(n).id, freedStamp);
    EXPECT_EQ(nodeCacheOccupied, occupied - 5000);
    EXPECT_FALSE(testThreadHoldsTheMonitor());
}
