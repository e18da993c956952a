// Counting and listing: the edge layouts that the Java tests do not reach (no fields, fields of no
// bits, 31 and 32 bits in all), variables outside the layout, the count entries, a failing add,
// and the depth that free variables do not take.
#include "engine/OpCache.h"
#include "ops/TupleWalks.h"
#include "support/Engine.h"

#include <climits>

namespace {

TEST_F(EngineTest, EdgeLayouts) {
    struct Count {
        Node node;
        Layout layout;
        int32_t count;
    };
    const Count counts[] = {{one, {{0, 16}, {16, 15}, {0, 0}}, INT32_MIN},  // modulo 2^32
                            {one, {{0, 16}, {16, 16}, {0, 0}}, 0},
                            {one, {{0, 5}, {1, 1}, {0, 0}}, 4},  // gap variables are not counted
                            {one, {{0, 1, 1}, {1, 0, 1}, {0, 0, 0}}, 4},  // a field of no bits takes no variable
                            {one, {}, 1}};  // no fields: the empty tuple alone
    for (const Count& c : counts) EXPECT_EQ(countOf(c.node, c.layout), c.count) << c.layout.fields() << " fields";

    const Node top = makeSingleTupleUnary(0, 31, INT32_MAX - 1), topmost = makeSingleTupleUnary(0, 31, INT32_MAX);
    struct List {
        Node node;
        Layout layout;
        std::vector<Tuple> tuples;
    };
    const List lists[] = {{one, {}, {Tuple{}}},
                          // A field of no bits holds 0 alone, listed within a bound above 0.
                          {one, {{0, 1, 1}, {1, 0, 1}, {2, 1, 2}}, {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 1}}},
                          {one, {{0, 1, 1}, {1, 0, 1}, {2, 0, 2}}, {}},
                          // 31-bit fields: the bound is tested on the whole value.
                          {top, {{0}, {31}, {INT32_MAX}}, {{INT32_MAX - 1}}},
                          {topmost, {{0}, {31}, {INT32_MAX}}, {}}};
    for (const List& l : lists) EXPECT_EQ(listTuples(l.node, l.layout), l.tuples) << l.layout.fields() << " fields";
    EXPECT_EQ(listTuples(one, {}, 0), std::vector<Tuple>{Tuple{}}) << "whatever the limit";

    // A limit of 0 ends the walk at the first subtree that lists nothing: with bounds 2 and 1 the
    // walk under field value 0 cuts (0, 3), so (1, 0) is never reached; without a limit it is.
    const Layout cut{{0, 1}, {1, 2}, {2, 1}};
    const Node set = setOf(cut, {{0, 3}, {1, 0}});
    EXPECT_EQ(listTuples(set, cut, 0), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(set, cut, -1), (std::vector<Tuple>{{1, 0}}));
    EXPECT_EQ(listTuples(set, {{0, 1}, {1, 2}, {2, 4}}, 0), (std::vector<Tuple>{{0, 3}, {1, 0}})) << "nothing cut";
}

TEST_F(EngineTest, WalksRefuseVariablesOutsideTheLayout) {
    const Node set = setOf({{0, 3}, {2, 2}, {}}, {{1, 2}, {3, 0}});  // tests variables 0, 1, 3 and 4
    const Layout refused[] = {{{0, 4}, {2, 1}, {9, 9}},   // 3 is in a gap
                              {{0}, {2}, {9}},            // 3 is after the last field
                              {{1, 3}, {1, 2}, {9, 9}},   // 0 is before the first field
                              {{}, {}, {}}};              // no fields
    for (const Layout& l : refused) {
        EXPECT_EQ(errorOf([&] { countOf(set, l); }), msgCountWalk)
            << l.fields() << " fields";
        EXPECT_EQ(errorOf([&] { listTuples(set, l); }), msgListWalk)
            << l.fields() << " fields";
    }
    EXPECT_EQ(countOf(set, {{0, 2, 3}, {2, 1, 2}, {0, 0, 0}}), 4) << "variable 2 is a free field variable";
    EXPECT_EQ(listTuples(set, {{0}, {2}, {-1}}), std::vector<Tuple>{}) << "the bound cuts before the walk meets 3";
}

TEST_F(EngineTest, CountsAreMemoisedPerNode) {
    const Layout l{{0, 3}, {2, 2}, {0, 0}};
    const Node set = setOf(l, {{0, 0}, {0, 1}, {2, 3}});
    const Node afterZero = nodeOf(nodeOf(set).low).low;  // field 0 = 00: variable 3 must be 0, 4 free
    ASSERT_EQ(nodeOf(afterZero).var, 3);
    EXPECT_EQ(countOf(set, l), 3);
    const auto cached = [](Node n) { return searchInOpCache4(opCount, n, opHashCode1(opCount, n, n)); };
    EXPECT_EQ(cached(set), 3);
    EXPECT_EQ(cached(afterZero), 2) << "the completions from its own variable on";
    // The key is the node alone: a layout with one more field counts as the first one did while
    // the entry lives.
    const Layout longer{{0, 3, 6}, {2, 2, 1}, {0, 0, 0}};
    EXPECT_EQ(countOf(set, longer), 3);
    clearOpCache();
    EXPECT_EQ(countOf(set, longer), 6);
}

// A sink that fails stands in for a Vector that cannot grow: the walk ends at the first failing
// add, with its error.
TEST_F(EngineTest, AFailingSinkEndsTheListing) {
    const Layout l{{0}, {3}, {8}};
    int32_t values[1] = {0};
    int added = 0;
    const TupleSink sink{[](void* context, const int32_t*, int32_t) {
                             if (++*static_cast<int*>(context) == 3) throwException("Queue full");
                         },
                         &added};
    const TupleListing walk{sink, 1, l.first.data(), l.width.data(), l.bound.data(), values};
    int32_t returned = 99;
    EXPECT_EQ(errorOf([&] { returned = getNTuplesWork(one, walk, 0, 0, -1); }), "Queue full");
    EXPECT_EQ(returned, 99) << "the walk did not return";
    EXPECT_EQ(added, 3);
}

TEST_F(EngineTest, FreeVariablesCostTheCountNoDepth) {
    Layout wide{std::vector<int32_t>(1000), std::vector<int32_t>(1000, 31), std::vector<int32_t>(1000)};
    for (int32_t f = 0; f < 1000; ++f) wide.first[static_cast<size_t>(f)] = 31 * f;
    int32_t n = -1;
    EXPECT_EQ(errorOf([&] {
                  stackLimit = static_cast<char*>(__builtin_frame_address(0)) - (32 << 10);
                  n = countOf(one, wide);
              }),
              "");
    EXPECT_EQ(n, 0) << "2^31000 modulo 2^32";
}

}  // namespace
