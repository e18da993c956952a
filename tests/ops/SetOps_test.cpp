// What the Java tests of the algebra cannot see: that an operation cut short by the stack leaves
// nothing behind, that the quantifiers' intermediates go to the release queue, that the cache knows
// a run by its first variable, and insertion and
// construction over fields without bits.
#include "engine/OpCache.h"
#include "support/Engine.h"


namespace {

// Runs `op` with more and more stack until it answers; every failure on the way must be "Stack
// exhausted" and leave the store as it was. Returns the answer and the number of failures that
// came after the operation had built a node.
std::pair<Node, int> withGrowingStack(const std::function<Node()>& op) {
    const int32_t held = drainStore();
    for (int32_t room = 0, late = 0;; room += 16) {
        Node result = 0;
        const uint32_t stamps = curSerialID;
        const std::string message = errorOf([&] {
            stackLimit = static_cast<char*>(__builtin_frame_address(0)) - room;
            result = op();
        });
        stackLimit = nullptr;
        if (message.empty()) return {result, late};
        EXPECT_EQ(message, msgStackExhausted);
        EXPECT_EQ(drainStore(), held) << "room " << room;
        late += curSerialID != stamps ? 1 : 0;
    }
}

// The branch that each recursion takes first is short and builds a node; the other one is a long
// chain, where the stack runs out: complement and union take the high branch first, the
// relational product the low one where both operands test a variable of the run.
TEST_F(EngineTest, AnOperationCutShortByTheStackLeavesNothingBehind) {
    const int32_t first[] = {0, 2}, width[] = {1, 1}, value[] = {0, 0};
    const Node x = unite(makeSingleTupleUnary(0, 2, 3), makeSingleTupleUnary(0, 12, 0x2AA));
    const Node x2 = unite(makeSingleTupleUnary(0, 3, 5), makeSingleTupleUnary(0, 12, 0x2AB));
    const Node y = unite(makeSingleTupleUnary(0, 2, 1), makeSingleTupleUnary(0, 12, 0xAAA));
    const Node y2 = unite(makeSingleTuple(2, first, width, value), makeSingleTupleUnary(0, 12, 0xAAB));
    const std::pair<const char*, std::function<Node()>> ops[] = {{"complement", [&] { return complement(x); }},
                                                                  {"unite", [&] { return unite(x, x2); }},
                                                                  {"relprod", [&] { return relprod(y, y2, 0, 1); }}};
    for (const auto& [name, op] : ops) {
        const auto [result, late] = withGrowingStack(op);
        EXPECT_NE(result, 0u) << name;
        EXPECT_GT(late, 0) << name << ": no failure after a node was built";
    }
}

// The two branches merged for a quantified variable are intermediates: once merged they are
// queued for release in their order, held back until the native call ends.
TEST_F(EngineTest, QuantifiersQueueTheirIntermediates) {
    const Node x = unite(makeSingleTupleUnary(0, 2, 1), makeSingleTupleUnary(0, 2, 2));  // {01, 10}
    const Node a = nodeOf(x).low, b = nodeOf(x).high;
    const int ca = count(a);
    EXPECT_EQ(exists(x, 0, 1), one);
    EXPECT_EQ(relprod(x, x, 0, 1), one);
    EXPECT_EQ(finalizedNodesPos, 0);
    flushHeldReleases();
    EXPECT_EQ(std::vector<Node>(finalizedNodes, finalizedNodes + finalizedNodesPos), (std::vector<Node>{a, b, a, b}));
    EXPECT_EQ(count(a), ca + 2);
    collectGarbage();
    EXPECT_EQ(count(a), ca);
}

TEST_F(EngineTest, FieldsWithoutBitsArePassedOver) {
    const int32_t first[] = {0, 5}, width[] = {0, 0}, value[] = {1, 1};
    EXPECT_EQ(makeSingleTuple(2, first, width, value), one);
    EXPECT_EQ(makeSingleTupleUnary(9, 0, 3), one);
    EXPECT_EQ(makeSingleTupleUnary(9, -4, 3), one);
    EXPECT_EQ(nodeCacheOccupied, 0) << "none of these made a node";
    // A field of no bits first, after a gap between two others, and last after a gap.
    const Layout layouts[] = {{{0, 0, 3}, {0, 3, 2}, {}}, {{0, 5, 5}, {3, 0, 2}, {}}, {{1, 3, 9}, {2, 2, 0}, {}}};
    for (const Layout& l : layouts) {
        Node s = zero;
        for (int32_t x = 0; x < 4; ++x) {
            const Tuple t{x, 3 - x, x ^ 1};
            const Node single = makeSingleTuple(l.fields(), l.first.data(), l.width.data(), t.data());
            const Node next = addTuple(s, l.fields(), l.first.data(), l.width.data(), t.data());
            EXPECT_EQ(next, unite(s, single)) << "layout " << l.first[1] << ", tuple " << x;
            s = next;
        }
    }
}

// Insertion under a layout that ends before the set's last variable: what the set tests after the
// last field is dropped on the inserted path.
TEST_F(EngineTest, InsertionDropsVariablesAfterTheLastField) {
    const Node s = setOf({{0, 4}, {2, 1}, {}}, {{1, 1}});  // tests variable 4
    const int32_t first = 0, width = 2, two = 2, oneValue = 1;
    EXPECT_EQ(addTuple(s, 1, &first, &width, &two), unite(s, makeSingleTupleUnary(0, 2, 2)));
    EXPECT_EQ(addTuple(s, 1, &first, &width, &oneValue), makeSingleTupleUnary(0, 2, 1));
}

// The cache knows a run by its first variable alone: a projection of a shorter run from the same
// variable gets the answer of the longer one until the cache is emptied.
TEST_F(EngineTest, ARunIsCachedByItsFirstVariable) {
    const Node a = setOf({{0, 3}, {3, 2}, {}}, {{0, 1}, {5, 2}, {3, 0}});
    const Node wide = exists(a, 3, 2);
    EXPECT_EQ(exists(a, 3, 1), wide);
    clearOpCache();
    EXPECT_NE(exists(a, 3, 1), wide);
}

}  // namespace
