// The variable test, the node count and renaming: marks left clear, the moved run, and the
// refusals of the entry forms (a bad offset or run, a rename that breaks the order elsewhere).
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

#include <climits>

namespace {

class RenameTest : public EngineTest {
protected:
    // Two bits at 0, two bits at 4 after a gap of two variables.
    TestLayout layout{{0, 4}, {2, 2}};
    Node s = 0;
    void SetUp() override {
        EngineTest::SetUp();
        s = tupleSet(layout, {{0, 1}, {2, 3}, {3, 1}, {1, 0}});
    }
    static int count(Node n) { return refCountOf(nodeOf(n)); }
};

TEST_F(RenameTest, TestVarsAnswersPerRunAndLeavesNoMark) {
    EXPECT_EQ(testVars(zero, 0, 10), 0);
    EXPECT_EQ(testVars(one, 0, 10), 0);
    EXPECT_EQ(testVars(s, 0, 2), 1);
    EXPECT_EQ(testVars(s, 4, 2), 1);
    EXPECT_EQ(testVars(s, 5, 1), 1);
    EXPECT_EQ(testVars(s, 2, 2), 0);  // the gap
    EXPECT_EQ(testVars(s, 6, 100), 0);
    EXPECT_TRUE(innerMarksClear());
    EXPECT_TRUE(isMarked(nodeOf(zero)) && isMarked(nodeOf(one)));
    // The entry form clamps the run to the inner variables and never overflows.
    EXPECT_EQ(testVarsEntry(s, 5, INT_MAX), 1);
    EXPECT_EQ(testVarsEntry(s, -10, 11), 1);
    EXPECT_EQ(testVarsEntry(s, -10, 10), 0);
    EXPECT_EQ(testVarsEntry(s, INT_MIN, INT_MAX), 0);
    EXPECT_EQ(testVarsEntry(s, 4, 0), 0);
    EXPECT_EQ(testVarsEntry(s, INT_MAX, INT_MAX), 0);
    EXPECT_TRUE(innerMarksClear());
}

TEST_F(RenameTest, NodeCountCountsInnerNodesOnceAndLeavesNoMark) {
    EXPECT_EQ(nodeCount(zero), 0);
    EXPECT_EQ(nodeCount(one), 0);
    EXPECT_EQ(nodeCount(makeSingleTupleUnary(7, 1, 0)), 1);
    EXPECT_EQ(nodeCount(makeSingleTupleUnary(7, 3, 5)), 3);
    const int32_t n = nodeCount(s);
    EXPECT_EQ(nodeCount(s), n);
    EXPECT_TRUE(innerMarksClear());
    // Every node of s but the root is shared with one of its two branches' diagrams.
    const BddNode& root = nodeOf(s);
    const Node low = root.low, high = root.high;
    EXPECT_LE(n, 1 + nodeCount(low) + nodeCount(high));
    EXPECT_GE(n, 1 + std::max(nodeCount(low), nodeCount(high)));
}

TEST_F(RenameTest, MovingARun) {
    const int cs = count(s);
    EXPECT_EQ(renameVars(s, 0, 2, 0), s);
    EXPECT_EQ(count(s), cs + 1);
    EXPECT_EQ(renameVars(makeSingleTupleUnary(4, 3, 5), 4, 3, 6), makeSingleTupleUnary(10, 3, 5));
    // Field 1 moved into the gap; field 0 moved by one, onto part of its own run.
    EXPECT_EQ(renameVars(s, 4, 2, -2), tupleSet(TestLayout{{0, 2}, {2, 2}}, {{0, 1}, {2, 3}, {3, 1}, {1, 0}}));
    EXPECT_EQ(renameVars(s, 0, 2, 1), tupleSet(TestLayout{{1, 4}, {2, 2}}, {{0, 1}, {2, 3}, {3, 1}, {1, 0}}));
    EXPECT_EQ(renameVarsEntry(s, 4, 2, 32760 - 4), tupleSet(TestLayout{{0, 32760}, {2, 2}}, {{0, 1}, {2, 3}, {3, 1}, {1, 0}}));
}

TEST_F(RenameTest, EntryFormRefusesBadOffsetsAndRuns) {
    const std::string invalid = "Assert failed: Invalid variable";
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 0, 2, 32768); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 0, 2, -32769); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 0, 2, INT_MIN); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 4, 2, -5); }), invalid);           // below 0
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 4, 2, 32766 - 5); }), invalid);    // past 32765
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 32760, 7, 0); }), invalid);        // the run itself
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, -1, 3, 2); }), invalid);
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, INT_MAX, INT_MAX, 1); }), invalid);
    const int cs = count(s);
    EXPECT_EQ(renameVarsEntry(s, 4, 0, 3), s);
    EXPECT_EQ(renameVarsEntry(s, 4, -3, 30000), s);
    EXPECT_EQ(count(s), cs + 2);
}

TEST_F(RenameTest, ARenameThatBreaksTheOrderLeavesNothingBehind) {
    const int32_t held = drainedOccupied();
    const int cs = count(s);
    // Field 0 moved onto variables 3..4 lands on field 1's variable 4; moved to 2..3 it fits.
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 0, 2, 3); }), "Assert failed: Variable order violated");
    EXPECT_EQ(engineErrorOf([&] { renameVarsEntry(s, 4, 2, -4); }), "Assert failed: Variable order violated");
    EXPECT_EQ(count(s), cs);
    EXPECT_EQ(drainedOccupied(), held);
    const Node moved = renameVarsEntry(s, 0, 2, 2);
    EXPECT_EQ(moved, tupleSet(TestLayout{{2, 4}, {2, 2}}, {{0, 1}, {2, 3}, {3, 1}, {1, 0}}));
}

}  // namespace
