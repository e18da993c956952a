// Block carving and the free list.
#include "support/TestJvm.h"

TEST_F(EngineTest, TheNineHundredNinetyNinthCreationCarvesASecondBlock) {
    // The first block's records go out from the top down, after the two terminals.
    EXPECT_EQ(cacheNode(0, zero, one), 998u);
    for (int32_t v = 1; v < 997; ++v) cacheNode(v, zero, one);
    EXPECT_EQ(cacheNode(997, zero, one), 1u);
    EXPECT_EQ(firstFreeNode, 0u);
    EXPECT_EQ(totalNodesAllocated, 1000);

    EXPECT_EQ(cacheNode(998, zero, one), 2000u) << "the new block's last record heads the list";
    EXPECT_EQ(totalNodesAllocated, 2000);
    EXPECT_EQ(firstFreeNode, 1999u);
    EXPECT_EQ(nodeCacheOccupied, 999);
}
