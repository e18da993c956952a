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
