// Insertion of one tuple into a set: agreement with the single-tuple constructor and with `unite`,
// fields with gaps and without bits, and the reference effects.
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

namespace {

class AddTupleTest : public EngineTest {
protected:
    static int count(Node n) { return refCountOf(nodeOf(n)); }
    static Node add(Node s, const TestLayout& l, const std::vector<int32_t>& values) {
        return addTuple(s, l.fields(), l.firstVar.data(), l.width.data(), values.data());
    }
};

TEST_F(AddTupleTest, IntoZeroOrOneAndTheEmptyTuple) {
    const TestLayout l{{1, 5}, {3, 2}};
    EXPECT_EQ(add(zero, l, {5, 2}), singleTuple(l, {5, 2}));
    const int o = count(one);
    EXPECT_EQ(add(one, l, {5, 2}), one);
    EXPECT_EQ(count(one), o);
    const Node s = singleTuple(l, {1, 1});
    const TestLayout none{{}, {}};
    EXPECT_EQ(addTuple(s, 0, none.firstVar.data(), none.width.data(), nullptr), one);
}

TEST_F(AddTupleTest, AgreesWithUniteOfTheSingleTuple) {
    // Layouts with and without gaps, and with a field that has no bits.
    const std::vector<TestLayout> layouts{{{0, 2}, {2, 2}}, {{1, 6, 9}, {2, 3, 1}}, {{0, 3, 3}, {3, 0, 2}},
                                          {{2, 4}, {2, 0}}};
    for (const TestLayout& l : layouts) {
        Node s = zero;
        for (int32_t x = 0; x < 4; ++x) {
            for (int32_t y = 3; y >= 0; y -= 2) {
                const std::vector<int32_t> t{x, y, x ^ 1};
                const Node single = singleTuple(l, t);
                EXPECT_EQ(add(zero, l, t), single);
                const Node expected = unite(s, single);
                const Node next = add(s, l, t);
                EXPECT_EQ(next, expected) << "fields " << l.fields() << " tuple " << x << "," << y;
                // Inserting it again changes nothing but the reference count (`one` keeps its count).
                const int c = count(next);
                EXPECT_EQ(add(next, l, t), next);
                EXPECT_EQ(count(next), next == one ? c : c + 1);
                s = next;
            }
        }
    }
}

TEST_F(AddTupleTest, VariablesAfterTheLastFieldAreDroppedOnTheInsertedPath) {
    // s constrains variable 4 (after the only field); the inserted tuple leaves it free.
    const TestLayout wide{{0, 4}, {2, 1}};
    const TestLayout l{{0}, {2}};
    const Node s = singleTuple(wide, {1, 1});
    const Node r = add(s, l, {2});
    EXPECT_EQ(r, unite(s, singleTuple(l, {2})));
    EXPECT_EQ(add(s, l, {1}), singleTuple(l, {1}));
}

TEST_F(AddTupleTest, ValueBitsAboveTheWidthAreIgnored) {
    const TestLayout l{{0}, {3}};
    EXPECT_EQ(add(zero, l, {8}), add(zero, l, {0}));
    EXPECT_EQ(add(zero, l, {13}), add(zero, l, {5}));
}

TEST_F(AddTupleTest, ArgumentIsBorrowedAndTheResultCarriesOneReference) {
    const TestLayout l{{0, 2}, {2, 2}};
    const Node s = singleTuple(l, {1, 2});
    const int cs = count(s);
    const Node r = add(s, l, {3, 0});
    EXPECT_NE(r, s);
    EXPECT_EQ(count(r), 1);
    EXPECT_EQ(count(s), cs);
    doDecRefCount(r, nullptr);
    doDecRefCount(s, nullptr);
    EXPECT_EQ(drainedOccupied(), 0);
}

TEST_F(AddTupleTest, InvalidLayoutsAreRefused) {
    const std::vector<TestLayout> bad{{{0, 1}, {2, 2}}, {{3, 0}, {1, 1}}, {{-1}, {2}}, {{0}, {32}},
                                      {{0}, {-1}}, {{32765}, {2}}};
    for (const TestLayout& l : bad) {
        const std::vector<int32_t> values(l.firstVar.size(), 1);
        EXPECT_EQ(engineErrorOf([&] { add(zero, l, values); }), "Assert failed: Invalid tuple layout");
    }
}

}  // namespace
