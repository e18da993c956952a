// Exact counts: the low 32 bits agree with the wrapping count on gapped layouts, the high limbs
// carry what it drops, and a diagram that tests a variable outside the layout is refused alike.
#include "ops/ExactCount.h"
#include "support/Engine.h"

#include <random>

namespace {

struct Layout {
    std::vector<int32_t> first, width, bound;
    int32_t fields() const { return static_cast<int32_t>(first.size()); }
};
using Tuple = std::vector<int32_t>;

Node setOf(const Layout& l, const std::vector<Tuple>& tuples) {
    Node s = zero;
    for (const Tuple& t : tuples) {
        const Node next = addTuple(s, l.fields(), l.first.data(), l.width.data(), t.data());
        if (s != zero) decRefCount(s);
        s = next;
    }
    return s;
}

std::vector<uint32_t> exactOf(Node node, const Layout& l) {
    return exactNumOfTuples(node, l.fields(), l.first.data(), l.width.data());
}

TEST_F(EngineTest, ExactCountsAgreeWithTheWrappingCountAndKeepTheHighLimbs) {
    const Layout gapped{{0, 9, 20}, {7, 10, 12}, {128, 1024, 4096}};  // gaps at 7..8 and 19
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        std::vector<Tuple> tuples;
        for (int i = 0; i < 200; ++i)
            tuples.push_back({static_cast<int32_t>(random() % 128), static_cast<int32_t>(random() % 1024),
                              static_cast<int32_t>(random() % 4096)});
        const Node s = setOf(gapped, tuples);
        // Over the first two fields only the third one is free: each pair stands for 4096 tuples.
        const Layout two{{0, 9}, {7, 10}, {128, 1024}};
        const Node pairs = exists(s, 20, 12);
        const std::vector<uint32_t> count = exactOf(s, gapped);
        ASSERT_EQ(count.size(), 1u);
        EXPECT_EQ(static_cast<int32_t>(count[0]), getNumOfTuples(s, 3, gapped.first.data(), gapped.width.data(),
                                                                  gapped.bound.data()));
        EXPECT_EQ(exactOf(pairs, gapped), std::vector<uint32_t>{exactOf(pairs, two)[0] << 12});
        // Three free 31-bit fields after the last: the count times 2^93, across limbs.
        const Layout wide{{0, 9, 20, 40, 71, 102}, {7, 10, 12, 31, 31, 31}, {0, 0, 0, 0, 0, 0}};
        std::vector<uint32_t> shifted{0, 0, count[0] << 29, count[0] >> 3};
        if (shifted.back() == 0) shifted.pop_back();
        EXPECT_EQ(exactOf(s, wide), shifted);
    }
    // One over three 31-bit fields: 2^93, whose low 64 bits are all zero.
    EXPECT_EQ(exactOf(one, {{0, 31, 62}, {31, 31, 31}, {0, 0, 0}}), (std::vector<uint32_t>{0, 0, 1u << 29}));
    EXPECT_EQ(exactOf(zero, {{0}, {31}, {0}}), std::vector<uint32_t>{});
    EXPECT_EQ(exactOf(one, {}), std::vector<uint32_t>{1});
    const Node inGap = makeSingleTupleUnary(7, 1, 1);
    EXPECT_EQ(errorOf([&] { exactOf(inGap, gapped); }), msgCountWalk);
    EXPECT_EQ(errorOf([&] { exactOf(one, {{4, 0}, {8, 1}, {0, 0}}); }), msgInvalidLayout);
}

}  // namespace
