// The variable test and the node count leave every mark clear; renaming moves a run.
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

#include <climits>

namespace {

TEST_F(EngineTest, WalksLeaveNoMark) {
    const TestLayout l{{0, 4}, {2, 2}};  // a gap of two variables
    const Node s = tupleSet(l, {{0, 1}, {2, 3}, {3, 1}, {1, 0}});
    EXPECT_EQ(testVars(zero, 0, 10), 0);
    EXPECT_EQ(testVars(one, 0, 10), 0);
    // Answers 1 from the first node of the run, 0 after walking the whole diagram.
    EXPECT_EQ(testVars(s, 0, 2), 1);
    EXPECT_EQ(testVars(s, 5, 1), 1);
    EXPECT_EQ(testVars(s, 2, 2), 0);
    EXPECT_EQ(testVarsEntry(s, 5, INT_MAX), 1);
    EXPECT_EQ(testVarsEntry(s, -10, 11), 1);
    EXPECT_EQ(testVarsEntry(s, INT_MIN, INT_MAX), 0);
    EXPECT_TRUE(innerMarksClear());
    EXPECT_EQ(nodeCount(zero), 0);
    EXPECT_EQ(nodeCount(makeSingleTupleUnary(7, 3, 5)), 3);
    const int32_t n = nodeCount(s);
    EXPECT_EQ(nodeCount(s), n);
    // (x0 or x1) and x2: the node of x2 is reached along two paths and counted once.
    EXPECT_EQ(nodeCount(tupleSet(TestLayout{{0, 1, 2}, {1, 1, 1}}, {{1, 0, 1}, {0, 1, 1}, {1, 1, 1}})), 3);
    EXPECT_TRUE(innerMarksClear());
    EXPECT_TRUE(isMarked(nodeOf(zero)) && isMarked(nodeOf(one)));
}

TEST_F(EngineTest, RenamingMovesTheRun) {
    const Node u = makeSingleTupleUnary(4, 3, 5);
    const int cu = refCountOf(nodeOf(u));
    EXPECT_EQ(renameVars(u, 4, 3, 0), u);
    EXPECT_EQ(refCountOf(nodeOf(u)), cu + 1);
    EXPECT_EQ(renameVars(u, 4, 3, 6), makeSingleTupleUnary(10, 3, 5));
    EXPECT_EQ(renameVars(u, 6, 1, 2), singleTuple(TestLayout{{4, 8}, {2, 1}}, {2, 1}));
}

}  // namespace
