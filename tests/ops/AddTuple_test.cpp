// Insertion of one tuple: the cases the differential test of the Java side does not reach
// (fields without bits, variables tested after the last field) and the reference effects.
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

namespace {

Node add(Node s, const TestLayout& l, const std::vector<int32_t>& values) {
    return addTuple(s, l.fields(), l.firstVar.data(), l.width.data(), values.data());
}

TEST_F(EngineTest, FieldsWithoutBitsArePassedOver) {
    // A field of no bits first, between two others, and last.
    const std::vector<TestLayout> layouts{{{0, 0, 3}, {0, 3, 2}}, {{0, 3, 3}, {3, 0, 2}}, {{1, 3, 5}, {2, 2, 0}}};
    for (const TestLayout& l : layouts) {
        Node s = zero;
        for (int32_t x = 0; x < 4; ++x) {
            const std::vector<int32_t> t{x, 3 - x, x ^ 1};
            const Node single = singleTuple(l, t);
            EXPECT_EQ(add(zero, l, t), single);
            const Node next = add(s, l, t);
            EXPECT_EQ(next, unite(s, single)) << "layout " << l.firstVar[1] << " tuple " << x;
            s = next;
        }
    }
    EXPECT_EQ(add(makeSingleTupleUnary(0, 2, 1), TestLayout{{4}, {0}}, {1}), one);
}

TEST_F(EngineTest, VariablesAfterTheLastFieldAreDroppedOnTheInsertedPath) {
    const Node s = singleTuple(TestLayout{{0, 4}, {2, 1}}, {1, 1});  // tests variable 4
    const TestLayout l{{0}, {2}};
    EXPECT_EQ(add(s, l, {2}), unite(s, singleTuple(l, {2})));
    EXPECT_EQ(add(s, l, {1}), singleTuple(l, {1}));
}

TEST_F(EngineTest, InsertionBorrowsItsArgument) {
    const TestLayout l{{0, 2}, {2, 2}};
    const Node s = singleTuple(l, {1, 2});
    const int cs = refCountOf(nodeOf(s));
    const Node r = add(s, l, {3, 0});
    EXPECT_EQ(refCountOf(nodeOf(r)), 1);
    EXPECT_EQ(refCountOf(nodeOf(s)), cs);
    EXPECT_EQ(add(r, l, {1, 2}), r);  // already there: the same handle, one more reference
    EXPECT_EQ(refCountOf(nodeOf(r)), 2);
    const int o = refCountOf(nodeOf(one));
    EXPECT_EQ(add(one, l, {1, 2}), one);
    EXPECT_EQ(addTuple(s, 0, nullptr, nullptr, nullptr), one);  // the empty tuple: every assignment
    EXPECT_EQ(refCountOf(nodeOf(one)), o);
    for (const Node n : {r, r, s}) doDecRefCount(n, nullptr);
    EXPECT_EQ(drainedOccupied(), 0);
}

}  // namespace
