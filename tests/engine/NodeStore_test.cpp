// Start-up state, block carving and the free list.
#include "support/TestJvm.h"

#include <vector>

namespace {

std::vector<Node> freeList() {
    std::vector<Node> list;
    for (Node n = firstFreeNode; n != 0; n = nodeOf(n).next) list.push_back(n);
    return list;
}

// A fresh node (v, zero, one); distinct v give distinct nodes.
Node makeVarNode(int32_t v) { return cacheNode(v, zero, one); }

}  // namespace

TEST_F(EngineTest, StateAfterStartUp) {
    EXPECT_EQ(nodeCacheOccupied, 0);
    EXPECT_EQ(totalNodesAllocated, 1000);
    EXPECT_EQ(curSerialID, 3u);
    EXPECT_EQ(nodeCacheLength, 128);
    EXPECT_EQ(nodeCacheBitsCount, 7);
    EXPECT_EQ(nodeCacheTreshold, 96);
    EXPECT_EQ(opCacheLength, 128);
    EXPECT_EQ(opCacheTreshold, 96);
    EXPECT_EQ(opCacheOccupied, 0);
    EXPECT_EQ(finalizedNodesLength, 1000);
    EXPECT_EQ(finalizedNodesPos, 0);
    EXPECT_EQ(garbageCollectCounter, 0);

    for (Node t : {zero, one}) {
        EXPECT_TRUE(isMarked(nodeOf(t)));
        EXPECT_EQ(refCountOf(nodeOf(t)), 0);
        EXPECT_EQ(nodeOf(t).low, 0u);
        EXPECT_EQ(nodeOf(t).high, 0u);
    }
    EXPECT_EQ(nodeOf(zero).var, 32766);
    EXPECT_EQ(nodeOf(zero).id, 1u);
    EXPECT_EQ(nodeOf(one).var, 32767);
    EXPECT_EQ(nodeOf(one).id, 2u);
    for (Node h = 1; h <= 1000; ++h) EXPECT_EQ(nodeCache[h % 128], 0u);
}

TEST_F(EngineTest, LockingFollowsTheCollectionRate) {
    for (auto [rate, expected] : {std::pair{0, 0}, {-1, 0}, {-2147483647 - 1, 0}, {1, 1}, {1000, 1}}) {
        startEngine(1000, 1000, rate, 1);
        EXPECT_EQ(synchronizeOnGC, expected) << "rate " << rate;
        EXPECT_EQ(garbageCollectRate, rate);
    }
}

TEST_F(EngineTest, FreeListRunsFromTheBlocksLastRecordDown) {
    // The terminals took the block's last two records; the rest run downwards to the first.
    const std::vector<Node> list = freeList();
    ASSERT_EQ(list.size(), 998u);
    EXPECT_EQ(zero, 1000u);
    EXPECT_EQ(one, 999u);
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i], 998u - i);
    const BddNode& fresh = nodeOf(list.front());
    EXPECT_EQ(fresh.low, 0u);
    EXPECT_EQ(fresh.high, 0u);
    EXPECT_EQ(fresh.countWord, 0u);
    EXPECT_EQ(fresh.id, 0u);
}

TEST_F(EngineTest, TheNineHundredNinetyNinthCreationCarvesASecondBlock) {
    std::vector<Node> made;
    for (int32_t v = 0; v < 998; ++v) made.push_back(makeVarNode(v));
    EXPECT_EQ(firstFreeNode, 0u);
    EXPECT_EQ(totalNodesAllocated, 1000);
    EXPECT_EQ(made.front(), 998u);
    EXPECT_EQ(made.back(), 1u);

    const Node n = makeVarNode(998);
    EXPECT_EQ(totalNodesAllocated, 2000);
    EXPECT_EQ(n, 2000u) << "the new block's last record heads the list";
    EXPECT_EQ(freeList().size(), 999u);
    EXPECT_EQ(nodeCacheOccupied, 999);
}

TEST_F(EngineTest, ASecondStartUpBeginsAfresh) {
    for (int32_t v = 0; v < 1500; ++v) makeVarNode(v);
    ASSERT_EQ(totalNodesAllocated, 2000);
    startEngine(1000, 1000, 0, 1);
    EXPECT_EQ(totalNodesAllocated, 1000);
    EXPECT_EQ(nodeCacheOccupied, 0);
    EXPECT_EQ(nodeCacheLength, 128);
    EXPECT_EQ(curSerialID, 3u);
    EXPECT_EQ(freeList().size(), 998u);
    EXPECT_FALSE(isLiveHandle(1500));
}

TEST_F(EngineTest, HandleChecks) {
    const Node n = makeVarNode(3);
    EXPECT_TRUE(isLiveHandle(n));
    EXPECT_TRUE(isLiveHandle(zero));
    EXPECT_TRUE(isLiveHandle(one));
    EXPECT_FALSE(isLiveHandle(0));
    EXPECT_FALSE(isLiveHandle(-1));
    EXPECT_FALSE(isLiveHandle(1001));
    EXPECT_FALSE(isLiveHandle(int64_t{1} << 40));
    EXPECT_FALSE(isLiveHandle(firstFreeNode)) << "a never-used record";
    decRefCount(testEnv, n);
    collectGarbage();
    EXPECT_FALSE(isLiveHandle(n)) << "a freed record";
}
