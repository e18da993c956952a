// The tuple constructors: the shapes they build, their canonical results and their refusals.
#include "support/TestJvm.h"

#include <vector>

namespace {

// The variables and branches along the only path to `one` of a single-tuple chain.
std::vector<std::pair<int, bool>> chainPath(Node n) {
    std::vector<std::pair<int, bool>> path;
    while (!isTerminal(n)) {
        const BddNode& r = nodeOf(n);
        const bool high = r.low == zero;
        EXPECT_TRUE(r.low == zero || r.high == zero) << "not a chain at var " << r.var;
        path.emplace_back(r.var, high);
        n = high ? r.high : r.low;
    }
    EXPECT_EQ(n, one);
    return path;
}

}  // namespace

TEST_F(EngineTest, SingleTupleUnaryBuildsTheChainMostSignificantBitFirst) {
    const Node n = makeSingleTupleUnary(4, 3, 5);
    using P = std::vector<std::pair<int, bool>>;
    EXPECT_EQ(chainPath(n), (P{{4, true}, {5, false}, {6, true}}));
    // Bits above the width are ignored, bit 31 never counts.
    EXPECT_EQ(makeSingleTupleUnary(4, 3, 13), n);
    EXPECT_EQ(chainPath(makeSingleTupleUnary(0, 31, -1)).size(), 31u);
    for (const auto& [var, high] : chainPath(makeSingleTupleUnary(0, 31, -1))) EXPECT_TRUE(high) << var;
}

TEST_F(EngineTest, EmptyTuplesGiveOneWithoutANode) {
    const int countOfOne = refCountOf(nodeOf(one));
    EXPECT_EQ(makeSingleTupleUnary(9, 0, 3), one);
    EXPECT_EQ(makeSingleTupleUnary(9, -4, 3), one);
    const int32_t first[] = {0, 5}, width[] = {0, 0}, value[] = {1, 1};
    EXPECT_EQ(makeSingleTuple(0, first, width, value), one);
    EXPECT_EQ(makeSingleTuple(2, first, width, value), one);
    EXPECT_EQ(refCountOf(nodeOf(one)), countOfOne);
    EXPECT_EQ(nodeCacheOccupied, 0);
}

TEST_F(EngineTest, SingleTupleOfOneFieldIsTheUnaryTuple) {
    const int32_t first[] = {4}, width[] = {3}, value[] = {5};
    EXPECT_EQ(makeSingleTuple(1, first, width, value), makeSingleTupleUnary(4, 3, 5));
}

TEST_F(EngineTest, SingleTupleLeavesGapsFreeAndPutsTheFirstFieldAtTheRoot) {
    const int32_t first[] = {2, 10}, width[] = {2, 3}, value[] = {2, 6};
    using P = std::vector<std::pair<int, bool>>;
    EXPECT_EQ(chainPath(makeSingleTuple(2, first, width, value)),
              (P{{2, true}, {3, false}, {10, true}, {11, true}, {12, false}}));
}

TEST_F(EngineTest, EqualsIsRootedAtTheSmallerVariable) {
    const Node n = makeEquals(7, 3);
    EXPECT_EQ(makeEquals(3, 7), n);
    const BddNode& root = nodeOf(n);
    EXPECT_EQ(root.var, 3);
    const BddNode& whenZero = nodeOf(root.low);
    const BddNode& whenOne = nodeOf(root.high);
    EXPECT_EQ(whenZero.var, 7);
    EXPECT_EQ(whenZero.low, one);
    EXPECT_EQ(whenZero.high, zero);
    EXPECT_EQ(whenOne.var, 7);
    EXPECT_EQ(whenOne.low, zero);
    EXPECT_EQ(whenOne.high, one);
    EXPECT_EQ(refCountOf(root), 2);
}

TEST_F(EngineTest, ConstructorsRefuseBadVariablesAndLayouts) {
    for (auto [x, y] : {std::pair{5, 5}, {-1, 3}, {3, 32766}, {32766, 32767}}) {
        EXPECT_EQ(engineErrorOf([&] { makeEquals(x, y); }), "Assert failed: Invalid variable") << x << "," << y;
    }
    EXPECT_EQ(engineErrorOf([] { makeEquals(0, 32765); }), "");

    const char* layoutError = "Assert failed: Invalid tuple layout";
    EXPECT_EQ(engineErrorOf([] { makeSingleTupleUnary(0, 32, 1); }), layoutError);
    EXPECT_EQ(engineErrorOf([] { makeSingleTupleUnary(-1, 3, 1); }), layoutError);
    EXPECT_EQ(engineErrorOf([] { makeSingleTupleUnary(32764, 3, 1); }), layoutError);
    EXPECT_EQ(engineErrorOf([] { makeSingleTupleUnary(32763, 3, 1); }), "");

    struct Layout {
        std::vector<int32_t> first, width;
    };
    for (const Layout& l : {Layout{{0, 2}, {3, 2}},         // overlap
                            Layout{{5, 0}, {2, 2}},         // decreasing
                            Layout{{0}, {32}},              // too wide
                            Layout{{0}, {-1}},              // negative width
                            Layout{{-2}, {1}},              // negative variable
                            Layout{{32760, 32765}, {2, 2}}}) {  // past the last variable
        const std::vector<int32_t> value(l.first.size(), 1);
        const int32_t occupied = nodeCacheOccupied;
        EXPECT_EQ(engineErrorOf([&] {
                      makeSingleTuple(static_cast<int32_t>(l.first.size()), l.first.data(), l.width.data(), value.data());
                  }),
                  layoutError);
        EXPECT_EQ(nodeCacheOccupied, occupied) << "refused before anything is built";
    }
    const int32_t first[] = {0, 3}, width[] = {3, 31}, value[] = {1, 1};
    EXPECT_EQ(engineErrorOf([&] { makeSingleTuple(2, first, width, value); }), "") << "adjacent fields are fine";
}
