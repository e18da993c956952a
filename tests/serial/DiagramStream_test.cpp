// The writer's numbering and the stamps it overwrites, and the reader's search for live nodes.
#include "engine/OpCache.h"
#include "serial/DiagramStream.h"
#include "support/Engine.h"

#include <tuple>

namespace {

const StreamProgress noProgress{nullptr, nullptr, 1.0};

Node mk(int32_t var, Node low, Node high) {
    incRefCount(low);
    incRefCount(high);
    return cacheNode(var, low, high);
}

// Numbers go out in pre-order of first visit, low side first and roots in order, records in
// post-order. A root inside an earlier one keeps its number; a root given twice stands twice.
TEST_F(EngineTest, TheWriterNumbersInPreOrderAndEmitsInPostOrder) {
    const Node a = mk(1, zero, one), b = mk(1, one, zero), r = mk(0, a, b);
    const auto encode = [](std::vector<Node> roots) {
        const StreamInts s = encodeDiagramStream(roots, noProgress);
        return std::vector<int32_t>(s.ints.get(), s.ints.get() + s.length);
    };
    EXPECT_EQ(encode({r}), (std::vector<int32_t>{1, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2}));
    EXPECT_EQ(encode({b, r, b, one}), (std::vector<int32_t>{4, 5, 2, 1, 1, 0, 4, 1, 0, 1, 3, 0, 4, 2, 2, 3, 2, 1}));
    for (const Node n : {a, b, r}) EXPECT_FALSE(isMarked(nodeOf(n)));
    EXPECT_EQ(nodeOf(zero).id, 0u);
    EXPECT_EQ(nodeOf(one).id, 1u);
}

TEST_F(EngineTest, WritingEmptiesTheCacheOfTheOverwrittenStamps) {
    const Node r = mk(0, mk(2, zero, one), one);
    putInOpCache1(opUnite, r, r, r, 0);
    const Node roots[] = {r};
    writeDiagramStream(roots, noProgress);
    EXPECT_EQ(nodeOf(r).id, 2u);
    EXPECT_EQ(opCacheOccupied, 0);
    for (int32_t i = 0; i < opCacheLength; ++i) EXPECT_EQ(opCache[i].op, 0);
}

// d holds the triple of record 3 when the read starts, but only its queued release keeps it in the
// table; the read's first new node starts a collection (rate 0), which frees d and hands its
// record to that new node. Record 3 must then get a node of its own.
TEST_F(EngineTest, TheReaderSearchesAgainForALiveNodeThatACollectionFreedMeanwhile) {
    const Node d = mk(2, zero, one);
    decRefCount(d);
    const std::vector<int32_t> s{1, 5, 2, 3, 0, 1, 3, 2, 0, 1, 4, 1, 3, 2, 4};
    StreamRoots read;
    ASSERT_EQ(errorOf([&] { read = readDiagramStream(s, noProgress); }), "");
    const BddNode& root = nodeOf(read.nodes[0]);
    EXPECT_EQ(root.high, d) << "the record freed by the collection, reused for record 2";
    for (const auto& [n, var] : {std::pair{root.low, 2}, std::pair{root.high, 3}})
        EXPECT_EQ(std::tuple(int{nodeOf(n).var}, nodeOf(n).low, nodeOf(n).high, count(n)), std::tuple(var, zero, one, 1));
    EXPECT_EQ(nodeCacheOccupied, 3);
}

}  // namespace
