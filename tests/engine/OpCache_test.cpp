// The operation cache: the stamp guards of keys and results, the replacement rule, count entries,
// growth by replacement up to the bound, and the stamp wrap.
#include "engine/OpCache.h"
#include "support/Engine.h"

#include <set>

namespace {

Node fresh(int32_t var) { return cacheNode(var, zero, one); }

// Frees n at once (it must hold exactly one reference) and hands its record to a new node.
void reuseRecordOf(Node n, int32_t var) {
    doDecRefCount(n);
    ASSERT_EQ(fresh(var), n);
}

// For each node shape: a hit adds one reference to the result, and once the result or a key node
// is freed and its record reused, the entry is never met again.
TEST_F(EngineTest, EntriesHitOnlyWhileTheirNodesKeepTheirStamps) {
    struct Shape {
        Node (*put)(Node a, Node b, Node r);
        Node (*get)(Node a, Node b);
        bool keysB;
    };
    const Shape shapes[] = {{[](Node a, Node b, Node r) { return putInOpCache1(opUnite, a, b, r, 5); },
                             [](Node a, Node b) { return searchInOpCache1(opUnite, a, b, 5); }, true},
                            {[](Node a, Node, Node r) { return putInOpCache2(opExists, a, 7, r, 5); },
                             [](Node a, Node) { return searchInOpCache2(opExists, a, 7, 5); }, false},
                            {[](Node a, Node b, Node r) { return putInOpCache3(opRelprod, a, b, 7, r, 5); },
                             [](Node a, Node b) { return searchInOpCache3(opRelprod, a, b, 7, 5); }, true}};
    for (const Shape& s : shapes) {
        for (int dying = 0; dying < 3; ++dying) {  // the result, the first key, b
            startEngine(1 << 20, 1 << 20, 0, 1);
            const Node a = fresh(1), b = fresh(2), r = fresh(3);
            EXPECT_EQ(s.put(a, b, r), r);
            EXPECT_EQ(std::pair(count(r), opCacheOccupied), std::pair(1, 1)) << "a store takes no reference";
            EXPECT_EQ(s.get(a, b), r);
            EXPECT_EQ(count(r), 2);
            doDecRefCount(r);
            reuseRecordOf(dying == 0 ? r : dying == 1 ? a : b, 4);
            EXPECT_EQ(s.get(a, b), dying == 2 && !s.keysB ? r : Node{0}) << "keys b " << s.keysB << ", dying " << dying;
        }
    }
}

// A live entry whose result has more references keeps its slot against one store, and only one
// in a row; an entry that can never be hit again gives way whatever the counts.
TEST_F(EngineTest, ReplacementSparesAMoreReferencedLiveEntryOnceInARow) {
    const Node a = fresh(1), b = fresh(2), held = fresh(3), fewer = fresh(4), weakest = fresh(11);
    for (int i = 0; i < 2; ++i) addRef(held);  // 3
    addRef(fewer);                              // 2
    putInOpCache2(opExistsVar, a, 2, held, 7);
    EXPECT_EQ(putInOpCache1(opIntersect, a, b, fewer, 7), fewer);
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), Node{0}) << "refused";
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), held) << "the spared entry is still hit";
    putInOpCache1(opIntersect, a, b, weakest, 7);
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), weakest) << "the next store replaces it";
    putInOpCache1(opUnite, a, b, held, 7);
    putInOpCache1(opIntersect, a, b, fewer, 7);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), held) << "a write clears the mark: the entry refuses again";
    putInOpCache1(opIntersect, a, b, weakest, 7);  // after its refusal the entry gives way
    reuseRecordOf(b, 8);
    const Node weak = fresh(9);  // one reference, fewer than the entry's result
    putInOpCache1(opUnite, a, b, weak, 7);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), weak) << "a dead key's entry gives way at once";
    EXPECT_EQ(opCacheOccupied, 1);
}

TEST_F(EngineTest, CountEntriesHoldNoResult) {
    const Node a = fresh(1), b = fresh(2), r = fresh(3);
    putInOpCache1(opUnite, a, b, r, 3);
    EXPECT_EQ(putInOpCache4(opCount, a, 12, 3), 12);
    EXPECT_EQ(opCacheOccupied, 0) << "a count entry over a node entry frees the slot's occupancy";
    EXPECT_EQ(std::pair(searchInOpCache4(opCount, a, 3), searchInOpCache4(opCount, b, 3)), std::pair(12, -1));
    reuseRecordOf(a, 6);
    EXPECT_EQ(searchInOpCache4(opCount, a, 3), -1);
}

TEST_F(EngineTest, TheCacheGrowsByReplacementUpToTheBound) {
    // bound, the sizes reached after start-up's 128 and the threshold after the last one.
    const std::tuple<int32_t, std::vector<int32_t>, int32_t> cases[] = {
        {2048, {256, 512, 1024, 2048}, 2049}, {1023, {256, 512}, 513}, {0, {256}, 257}};
    for (const auto& [bound, lengths, last] : cases) {
        startEngine(1 << 20, bound, 0, 1);
        const Node a = fresh(1), r = fresh(2);
        for (const int32_t length : lengths) {
            const int32_t threshold = opCacheTreshold;
            int32_t stores = 0;
            for (const int32_t before = opCacheLength; opCacheLength == before; ++stores)
                putInOpCache2(opExists, a, stores, r, stores);
            EXPECT_EQ(std::tuple(stores, opCacheLength, opCacheOccupied), std::tuple(threshold + 1, length, 0))
                << "bound " << bound;
        }
        EXPECT_EQ(opCacheTreshold, last) << "bound " << bound << ": growth stops";
    }
}

// Taking the last stamp below the freed stamp renumbers the live nodes first, from 3 upward, and
// empties the cache.
TEST_F(EngineTest, StampsStayUniqueAcrossTheWrap) {
    std::vector<Node> live;
    for (int32_t v = 0; v < 40; ++v) live.push_back(fresh(v));
    putInOpCache1(opUnite, live[0], live[1], live[2], 0);
    curSerialID = 0xFFFFFFFDu;
    live.push_back(fresh(40));
    live.push_back(fresh(41));  // taking ...FE would let the counter reach ...FF
    EXPECT_EQ(curSerialID, 3u + 42u);
    std::set<uint32_t> stamps;
    for (const Node n : live) stamps.insert(nodeOf(n).id);
    EXPECT_EQ(stamps.size(), live.size());
    EXPECT_EQ(std::pair(opCacheOccupied, searchInOpCache1(opUnite, live[0], live[1], 0)), std::pair(0, Node{0}));
}

}  // namespace
