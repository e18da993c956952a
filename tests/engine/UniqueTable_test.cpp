// The node hash, make-node's reference contract, table growth and the collection rhythm.
#include "support/TestJvm.h"

#include <vector>

namespace {

struct TableSize {
    int32_t bits, length;
};

// Evaluates the hash as if the table had 2^bits buckets.
int32_t hashAt(TableSize size, int32_t var, Node low, Node high) {
    const int32_t savedBits = nodeCacheBitsCount, savedLength = nodeCacheLength;
    nodeCacheBitsCount = size.bits;
    nodeCacheLength = size.length;
    const int32_t h = nodeHashCode(var, low, high);
    nodeCacheBitsCount = savedBits;
    nodeCacheLength = savedLength;
    return h;
}

}  // namespace

TEST(NodeHash, KnownBuckets) {
    EXPECT_EQ(hashAt({7, 128}, 3, 0x1000, 0x2000), 85);
    EXPECT_EQ(hashAt({8, 256}, 3, 0x1000, 0x2000), 168);
    // From 22 bits on the arithmetic right shifts of children with bit 31 set reach the mask: the
    // sign-filled result (3519659) differs from a zero-filled one (1422507).
    EXPECT_EQ(hashAt({22, 1 << 22}, 3, 0x80001234, 0x90000010), 3519659);
    EXPECT_EQ(hashAt({24, 1 << 24}, 3, 0x80001234, 0x90000010), 11757911);
}

TEST_F(EngineTest, MakeNodeHandsOverReferences) {
    startEngine(1 << 20, 1000, 1000, 1);
    const Node a = cacheNode(10, zero, one);
    const Node b = cacheNode(11, one, zero);
    EXPECT_EQ(refCountOf(nodeOf(a)), 1);
    const uint32_t serial = curSerialID;

    // The same node as both children: the two references become the result's one.
    addRef(a);
    addRef(a);
    EXPECT_EQ(cacheNode(5, a, a), a);
    EXPECT_EQ(refCountOf(nodeOf(a)), 2);
    EXPECT_EQ(curSerialID, serial);
    EXPECT_EQ(garbageCollectCounter, 2);

    addRef(a);
    addRef(b);
    const Node n = cacheNode(5, a, b);
    EXPECT_EQ(refCountOf(nodeOf(n)), 1);
    EXPECT_EQ(refCountOf(nodeOf(a)), 3) << "kept as the new node's child";
    EXPECT_EQ(nodeOf(n).id, serial);
    EXPECT_EQ(curSerialID, serial + 1);

    // Asking again finds the node: the handed-over references are dropped, the node gains one.
    addRef(a);
    addRef(b);
    EXPECT_EQ(cacheNode(5, a, b), n);
    EXPECT_EQ(refCountOf(nodeOf(n)), 2);
    EXPECT_EQ(refCountOf(nodeOf(a)), 3);
    EXPECT_EQ(refCountOf(nodeOf(b)), 2);
    EXPECT_EQ(curSerialID, serial + 1);
    EXPECT_EQ(garbageCollectCounter, 3) << "hits do not advance the collection counter";
}

TEST_F(EngineTest, MakeNodeRefusesAVariableOutOfOrder) {
    const Node a = cacheNode(10, zero, one);
    for (int32_t var : {10, 11, -1, 32766, 40000}) {
        addRef(a);
        const int before = refCountOf(nodeOf(a));
        const int32_t occupied = nodeCacheOccupied;
        EXPECT_EQ(engineErrorOf([&] { cacheNode(var, a, one); }), "Assert failed: Variable order violated")
            << "var " << var;
        EXPECT_EQ(nodeCacheOccupied, occupied);
        // The handed-over reference was given back: it is consumed on every exit.
        EXPECT_EQ(refCountOf(nodeOf(a)), before - 1);
    }
    EXPECT_EQ(engineErrorOf([&] { cacheNode(9, a, one); }), "");
}

TEST_F(EngineTest, TableDoublesAtTheNinetySeventhNode) {
    startEngine(512, 1000, 0, 1);
    std::vector<Node> made;
    for (int32_t v = 0; v < 96; ++v) made.push_back(cacheNode(v, zero, one));
    EXPECT_EQ(nodeCacheLength, 128);
    made.push_back(cacheNode(96, zero, one));
    EXPECT_EQ(nodeCacheLength, 256);
    EXPECT_EQ(nodeCacheBitsCount, 8);
    EXPECT_EQ(nodeCacheTreshold, 192);
    EXPECT_EQ(nodeCacheOccupied, 97);
    // Every node is still found in its new bucket.
    for (size_t v = 0; v < made.size(); ++v)
        EXPECT_EQ(searchInNodeCache(static_cast<int32_t>(v), zero, one,
                                    nodeHashCode(static_cast<int32_t>(v), zero, one)),
                  made[v]);
}

TEST_F(EngineTest, TableGrowthStopsAtItsBound) {
    struct Case {
        int32_t bound, largest;
    };
    for (Case c : {Case{0, 256}, Case{511, 256}, Case{1000, 512}, Case{1024, 1024}}) {
        startEngine(c.bound, 1000, 0, 1);
        for (int32_t v = 0; v < 2000; ++v) cacheNode(v, zero, one);
        EXPECT_EQ(nodeCacheLength, c.largest) << "bound " << c.bound;
        EXPECT_EQ(nodeCacheTreshold, 0x7FFFFFFF) << "bound " << c.bound;
        EXPECT_EQ(nodeCacheOccupied, 2000);
    }
}

TEST_F(EngineTest, CollectionsRunEveryRatePlusOneCreations) {
    startEngine(1 << 20, 1000, 5, 1);
    // Keep one release queued (of a terminal, which only lowers its count) so that every
    // collection shows as an emptied queue.
    std::vector<int> collectedAt;
    for (int creation = 1; creation <= 20; ++creation) {
        decRefCount(testEnv, one);
        cacheNode(creation, zero, one);
        if (finalizedNodesPos == 0) collectedAt.push_back(creation);
        addRef(zero);
        addRef(one);
        cacheNode(creation, zero, one);  // a hit, which does not count
    }
    EXPECT_EQ(collectedAt, (std::vector<int>{6, 12, 18}));
    EXPECT_EQ(garbageCollectCounter, 2);
}

TEST_F(EngineTest, ANegativeRateNeverCollects) {
    startEngine(1 << 20, 1000, -1, 1);
    const Node n = cacheNode(0, zero, one);
    decRefCount(testEnv, n);
    for (int32_t v = 1; v < 3000; ++v) cacheNode(v, zero, one);
    EXPECT_EQ(finalizedNodesPos, 1);
    EXPECT_NE(nodeOf(n).id, freedStamp);
}

TEST_F(EngineTest, RecycledRecordsQueueTheirOldChildren) {
    const Node child = cacheNode(7, zero, one);
    const Node parent = cacheNode(6, child, one);  // takes over our reference on child
    ASSERT_EQ(refCountOf(nodeOf(child)), 1);
    setMark(nodeOf(parent));  // the mark bit survives the record's reuse
    decRefCount(testEnv, parent);
    EXPECT_NE(nodeOf(parent).id, freedStamp) << "a release is only queued";
    collectGarbage();
    EXPECT_EQ(nodeOf(parent).id, freedStamp);
    EXPECT_EQ(firstFreeNode, parent);
    EXPECT_EQ(nodeCacheOccupied, 1);
    EXPECT_EQ(refCountOf(nodeOf(child)), 1) << "a freed node keeps its children";

    const Node reused = cacheNode(3, zero, one);
    EXPECT_EQ(reused, parent);
    EXPECT_EQ(refCountOf(nodeOf(reused)), 1);
    EXPECT_TRUE(isMarked(nodeOf(reused)));
    EXPECT_EQ(nodeOf(reused).id, curSerialID - 1);
    EXPECT_EQ(finalizedNodesPos, 0) << "held back until the native call ends";
    flushHeldReleases();
    ASSERT_EQ(finalizedNodesPos, 2);
    EXPECT_EQ(finalizedNodes[0], child);
    EXPECT_EQ(finalizedNodes[1], one);
    EXPECT_EQ(refCountOf(nodeOf(child)), 1) << "only queued until the next collection";
    collectGarbage();
    EXPECT_EQ(nodeOf(child).id, freedStamp);
}
