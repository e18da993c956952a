#include "engine/OpCache.h"
#include "jni/CallFrame.h"
#include "ops/TupleSets.h"
#include "ops/TupleWalks.h"

#include <climits>

namespace {

constexpr const char* countError = "Assert failed: BDDNativeImpl.getNumOfTuples";

int32_t countOf(Node node, const Layout& layout) {
    return getNumOfTuples(node, layout.numFields(), layout.first.data(), layout.width.data(), layout.bound.data());
}

std::string countErrorOf(Node node, const Layout& layout) {
    return engineErrorOf([&] { countOf(node, layout); });
}

int32_t cachedCount(Node node) { return searchInOpCache4(opCount, node, opHashCode1(opCount, node, node)); }

// One chain of `fields` fields of `width` bits each, packed from variable 0.
Layout packed(int fields, int32_t width) {
    Layout layout;
    for (int f = 0; f < fields; ++f) {
        layout.first.push_back(f * width);
        layout.width.push_back(width);
        layout.bound.push_back(0);
    }
    return layout;
}

using TupleCountingTest = EngineTest;

TEST_F(TupleCountingTest, TerminalsCountPowersOfTwoModulo32Bits) {
    EXPECT_EQ(countOf(zero, {{0, 3}, {3, 2}, {0, 0}}), 0);
    EXPECT_EQ(countOf(one, {{0, 3}, {3, 2}, {0, 0}}), 32);
    EXPECT_EQ(countOf(one, {{0, 16}, {16, 15}, {0, 0}}), INT32_MIN);
    EXPECT_EQ(countOf(one, {{0, 16}, {16, 16}, {0, 0}}), 0);
    EXPECT_EQ(countOf(one, {{2, 40}, {31, 1}, {0, 0}}), 0);
    // Gap variables are skipped: two one-bit fields at 0 and 5.
    EXPECT_EQ(countOf(one, {{0, 5}, {1, 1}, {0, 0}}), 4);
    // Fields of width 0 take no variable: 1 + 0 + 1 bits, the last two fields adjacent.
    EXPECT_EQ(countOf(one, {{0, 1, 1}, {1, 0, 1}, {0, 0, 0}}), 4);
    EXPECT_EQ(countOf(one, {{0, 1}, {1, 0}, {0, 0}}), 2);
    EXPECT_EQ(countOf(one, {{4}, {0}, {0}}), 1);
    // No fields: the empty tuple alone.
    EXPECT_EQ(countOf(zero, {}), 0);
    EXPECT_EQ(countOf(one, {}), 1);
    const Node single = makeSingleTupleUnary(0, 2, 1);
    EXPECT_EQ(countErrorOf(single, {}), countError);
}

TEST_F(TupleCountingTest, MemoisesCompletionsPerNodeWithoutTouchingTheStore) {
    // {(0, 0), (0, 1), (2, 3)} over two 2-bit fields at 0 and 3 (variable 2 is a gap).
    const Layout layout{{0, 3}, {2, 2}, {0, 0}};
    const Node set = buildSet(layout, {{0, 0}, {0, 1}, {2, 3}});
    const BddNode& root = nodeOf(set);
    ASSERT_EQ(root.var, 0);
    const Node afterZero = nodeOf(root.low).low;  // field 0 = 00: variable 3 must be 0, 4 free
    ASSERT_EQ(nodeOf(afterZero).var, 3);
    const int countBefore = refCountOf(root);
    const int32_t nodesBefore = nodeCacheOccupied;
    const int32_t occupiedBefore = opCacheOccupied;

    EXPECT_EQ(countOf(set, layout), 3);
    EXPECT_EQ(cachedCount(set), 3);
    EXPECT_EQ(cachedCount(afterZero), 2);  // from variable 3: one bit fixed, one free
    EXPECT_EQ(refCountOf(root), countBefore);
    EXPECT_EQ(nodeCacheOccupied, nodesBefore);
    EXPECT_LE(opCacheOccupied, occupiedBefore);

    // The key is the node alone: under a layout with one more field the entry still answers.
    EXPECT_EQ(countOf(set, {{0, 3, 6}, {2, 2, 3}, {0, 0, 0}}), 3);
    clearOpCache();
    EXPECT_EQ(countOf(set, {{0, 3, 6}, {2, 2, 3}, {0, 0, 0}}), 24);
}

TEST_F(TupleCountingTest, ACountOfMinusOneIsComputedAgainAtEveryUse) {
    // Every 32-bit assignment but all zeros: node i tests variable i, low = node i + 1, high = one.
    Node chain = cacheNode(31, zero, one);
    for (int32_t v = 30; v >= 0; --v) chain = cacheNode(v, chain, one);
    const Layout layout{{0, 16}, {16, 16}, {0, 0}};
    const Node second = nodeOf(chain).low;

    EXPECT_EQ(countOf(chain, layout), -1);
    EXPECT_EQ(cachedCount(chain), -1);  // stored, but a miss
    EXPECT_EQ(cachedCount(second), INT32_MAX);
    // The root is counted afresh from its children: a changed entry below it shows through.
    putInOpCache4(opCount, second, 5, opHashCode1(opCount, second, second));
    EXPECT_EQ(countOf(chain, layout), static_cast<int32_t>(5u + 0x80000000u));
}

TEST_F(TupleCountingTest, RefusesVariablesOutsideTheLayout) {
    // The set tests variables 0..1 and 3..4.
    const Node set = buildSet({{0, 3}, {2, 2}, {0, 0}}, {{1, 2}, {3, 0}});
    EXPECT_EQ(countErrorOf(set, {{0, 4}, {2, 1}, {0, 0}}), countError);     // 3 is in a gap
    EXPECT_EQ(countErrorOf(set, {{0}, {2}, {0}}), countError);              // 3 is after the last field
    EXPECT_EQ(countErrorOf(set, {{1, 3}, {1, 2}, {0, 0}}), countError);     // 0 is before the first field
    EXPECT_EQ(countErrorOf(set, {{0, 2, 3}, {2, 1, 2}, {0, 0, 0}}), "");
    EXPECT_EQ(countOf(set, {{0, 2, 3}, {2, 1, 2}, {0, 0, 0}}), 4);  // variable 2 is a free field variable

    // The counts found before the error stay: the low branch ends in the field, the high branch
    // tests variable 5 after it.
    const Node low = cacheNode(1, zero, one);
    const Node root = cacheNode(0, low, cacheNode(5, zero, one));
    EXPECT_EQ(countErrorOf(root, {{0}, {2}, {0}}), countError);
    EXPECT_EQ(cachedCount(low), 1);
}

TEST_F(TupleCountingTest, DeepDiagramsExhaustTheStackCleanly) {
    const Layout layout = packed(100, 30);
    const std::vector<int32_t> values(100, 0x2AAAAAAA);
    const Node chain = makeSingleTuple(100, layout.first.data(), layout.width.data(), values.data());
    const Layout wide = packed(1000, 31);
    EXPECT_EQ(engineErrorOf([&] {
                  stackLimit = static_cast<char*>(__builtin_frame_address(0)) - (32 << 10);
                  countOf(chain, layout);
              }),
              "Assert failed: Stack exhausted");
    // Free variables cost no depth: `one` over 31000 variables needs no stack to speak of.
    int32_t wideCount = -1;
    EXPECT_EQ(engineErrorOf([&] {
                  stackLimit = static_cast<char*>(__builtin_frame_address(0)) - (32 << 10);
                  wideCount = countOf(one, wide);
              }),
              "");
    stackLimit = threadStackLimit();
    EXPECT_EQ(wideCount, 0);
    EXPECT_EQ(countOf(chain, layout), 1);
}

}  // namespace
