#include "support/TestJvm.h"

TEST_F(EngineTest, StartsUp) { EXPECT_EQ(totalNodesAllocated, 1000); }
