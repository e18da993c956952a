// The operation cache: the known slots of its hashes, the stamp guards of keys and results, the
// replacement rule, count entries, growth by replacement up to the bound, and the stamp wrap.
#include "engine/OpCache.h"
#include "support/TestJvm.h"

#include <set>

namespace {

using OpCacheTest = EngineTest;

Node fresh(int32_t var) { return cacheNode(var, zero, one); }

// Frees n at once (it must hold exactly one reference) and hands its record to a new node.
void reuseRecordOf(Node n, int32_t var) {
    doDecRefCount(n);
    ASSERT_EQ(fresh(var), n);
}

TEST_F(OpCacheTest, HashesReadStampsWithSignFilledShifts) {
    const Node a = fresh(1), b = fresh(2);
    const int32_t realBits = opCacheBitsCount;
    const auto at = [](int32_t bits) {
        opCacheBitsCount = bits;
        opCacheLength = int32_t{1} << bits;
    };
    nodeOf(a).id = 10;
    nodeOf(b).id = 20;
    EXPECT_EQ(opHashCode1(opUnite, a, b), 89);
    EXPECT_EQ(opHashCode2(opExists, a, 5), 50);
    EXPECT_EQ(opHashCode3(opRelprod, a, b, 5), 103);
    nodeOf(a).id = 0xF0000000u;
    nodeOf(b).id = 0x80000001u;
    at(22);
    EXPECT_EQ(opHashCode1(opUnite, a, b), 2052814);
    EXPECT_EQ(opHashCode3(opRelprod, a, b, -7), 2052788);
    at(16);
    nodeOf(a).id = 0x80000000u;
    EXPECT_EQ(opHashCode2(opExistsVar, a, -3), 43565);
    at(realBits);  // the cache is freed with its true size
}

// For each node shape: a hit adds one reference to the result, and once the result or a key node
// is freed and its record reused, the entry is never met again.
TEST_F(OpCacheTest, EntriesHitOnlyWhileTheirNodesKeepTheirStamps) {
    struct Shape {
        Node (*put)(Node a, Node b, Node r);
        Node (*get)(Node a, Node b);
        int op;
        bool keysB;  // b is a key node
    };
    const Shape shapes[] = {
        {[](Node a, Node b, Node r) { return putInOpCache1(opUnite, a, b, r, 5); },
         [](Node a, Node b) { return searchInOpCache1(opUnite, a, b, 5); }, opUnite, true},
        {[](Node a, Node, Node r) { return putInOpCache2(opExists, a, 7, r, 5); },
         [](Node a, Node) { return searchInOpCache2(opExists, a, 7, 5); }, opExists, false},
        {[](Node a, Node b, Node r) { return putInOpCache3(opRelprod, a, b, 7, r, 5); },
         [](Node a, Node b) { return searchInOpCache3(opRelprod, a, b, 7, 5); }, opRelprod, true}};
    for (const Shape& s : shapes) {
        for (int dying = 0; dying < 3; ++dying) {  // the result, the first key, b
            startEngine(1 << 20, 1 << 20, 0, 1);
            const Node a = fresh(1), b = fresh(2), r = fresh(3);
            EXPECT_EQ(s.put(a, b, r), r);
            EXPECT_EQ(count(r), 1) << "a store takes no reference";
            EXPECT_EQ(opCacheOccupied, 1);
            EXPECT_EQ(s.get(a, b), r);
            EXPECT_EQ(count(r), 2);
            doDecRefCount(r);
            reuseRecordOf(dying == 0 ? r : dying == 1 ? a : b, 4);
            const bool stillMet = dying == 2 && !s.keysB;
            EXPECT_EQ(s.get(a, b), stillMet ? r : Node{0}) << "op " << s.op << ", dying " << dying;
        }
    }
}

// A live entry whose result has more references keeps its slot against one store, and only one
// in a row: the store after a refusal replaces it, whatever the counts.
TEST_F(OpCacheTest, ReplacementSparesAMoreReferencedLiveEntryOnceInARow) {
    const Node a = fresh(1), b = fresh(2), held = fresh(3), fewer = fresh(4), same = fresh(5);
    const Node weakest = fresh(11);
    addRef(held);
    addRef(held);  // 3
    addRef(fewer);  // 2
    addRef(same);
    addRef(same);  // 3
    putInOpCache1(opUnite, a, b, same, 7);
    EXPECT_EQ(putInOpCache2(opExistsVar, a, 2, held, 7), held);  // equal counts replace
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), held);      // now 4
    EXPECT_EQ(putInOpCache1(opIntersect, a, b, fewer, 7), fewer);  // refused
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), Node{0});
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), held) << "the spared entry is still hit";  // 5
    EXPECT_EQ(putInOpCache1(opIntersect, a, b, weakest, 7), weakest);  // the next store replaces
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), weakest);
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), Node{0});
    // A write clears the mark: the entry it wrote can refuse once again.
    putInOpCache1(opUnite, a, b, held, 7);
    EXPECT_EQ(putInOpCache1(opIntersect, a, b, fewer, 7), fewer);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), held);
    EXPECT_EQ(opCacheOccupied, 1);

    // An entry that can never be hit again gives way whatever the counts: its result's record
    // now holds another node, or one of its key nodes died.
    EXPECT_EQ(putInOpCache2(opExistsVar, a, 2, same, 7), same);  // after the refusal: replaces
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), same);      // now 4
    for (int i = 0; i < 3; ++i) doDecRefCount(same);
    reuseRecordOf(same, 6);
    addRef(same);
    addRef(same);  // 3, above fewer's 2
    EXPECT_EQ(putInOpCache3(opRelprod, a, b, 0, fewer, 7), fewer);
    EXPECT_EQ(searchInOpCache3(opRelprod, a, b, 0, 7), fewer);  // now 3
    const Node weak = fresh(7);
    reuseRecordOf(b, 8);  // the second key
    EXPECT_EQ(putInOpCache1(opUnite, a, b, weak, 7), weak);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), weak);  // now 2
    const Node weaker = fresh(9);
    reuseRecordOf(a, 10);  // the first key
    EXPECT_EQ(putInOpCache2(opExists, a, 0, weaker, 7), weaker);
    EXPECT_EQ(searchInOpCache2(opExists, a, 0, 7), weaker);
    EXPECT_EQ(opCacheOccupied, 1);
}

TEST_F(OpCacheTest, CountEntries) {
    const Node a = fresh(1), b = fresh(2), r = fresh(3);
    putInOpCache1(opUnite, a, b, r, 3);
    EXPECT_EQ(putInOpCache4(opCount, a, 12, 3), 12);
    EXPECT_EQ(opCacheOccupied, 0) << "a count entry over a node entry frees the slot's occupancy";
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 3), Node{0});
    EXPECT_EQ(searchInOpCache4(opCount, a, 3), 12);
    EXPECT_EQ(searchInOpCache4(opCount, b, 3), -1);
    putInOpCache4(opCount, b, -1, 4);
    EXPECT_EQ(searchInOpCache4(opCount, b, 4), -1) << "a stored -1 reads as a miss";
    reuseRecordOf(a, 6);
    EXPECT_EQ(searchInOpCache4(opCount, a, 3), -1);
    putInOpCache2(opRename, a, 1, r, 3);
    EXPECT_EQ(opCacheOccupied, 1);
}

TEST_F(OpCacheTest, GrowthByReplacementUpToTheBound) {
    struct Case {
        int32_t bound;
        std::vector<int32_t> lengths;     // sizes reached, after start-up's 128
        std::vector<int32_t> thresholds;  // the threshold after each replacement
    };
    const Case cases[] = {{2048, {256, 512, 1024, 2048}, {192, 384, 768, 2049}},
                          {1024, {256, 512, 1024}, {192, 384, 1025}},
                          {1023, {256, 512}, {192, 513}},
                          {511, {256}, {257}},
                          {0, {256}, {257}}};
    for (const Case& c : cases) {
        startEngine(1 << 20, c.bound, 0, 1);
        const Node a = fresh(1), r = fresh(2);
        // Fills slots 0, 1, 2, ... with distinct entries until the cache is replaced.
        const auto fill = [&] {
            int32_t stores = 0;
            for (const int32_t length = opCacheLength; opCacheLength == length && stores < length; ++stores)
                putInOpCache2(opExists, a, stores, r, stores);
            return stores;
        };
        EXPECT_EQ(opCacheTreshold, 96);
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            const int32_t threshold = opCacheTreshold;
            EXPECT_EQ(fill(), threshold + 1) << "bound " << c.bound;
            EXPECT_EQ(opCacheLength, c.lengths[i]);
            EXPECT_EQ(opCacheTreshold, c.thresholds[i]);
            EXPECT_EQ(opCacheOccupied, 0) << "the entry that tipped the balance went with the others";
        }
        EXPECT_EQ(fill(), opCacheLength) << "the last size stays: every slot can be filled";
        EXPECT_EQ(opCacheOccupied, opCacheLength);
    }
}

// Taking the last stamp below the freed stamp renumbers the live nodes first, from 3 upward, and
// empties the cache; the counter itself never holds the freed stamp.
TEST_F(OpCacheTest, StampsStayUniqueAcrossTheWrap) {
    std::vector<Node> live;
    for (int32_t v = 0; v < 40; ++v) live.push_back(fresh(v));
    putInOpCache1(opUnite, live[0], live[1], live[2], 0);
    curSerialID = 0xFFFFFFFCu;
    live.push_back(fresh(40));
    live.push_back(fresh(41));
    EXPECT_EQ(nodeOf(live[41]).id, 0xFFFFFFFDu);
    EXPECT_EQ(curSerialID, 0xFFFFFFFEu);
    live.push_back(fresh(42));  // taking ...FE would let the counter reach ...FF
    EXPECT_EQ(curSerialID, 3u + 43u);
    std::set<uint32_t> stamps;
    for (const Node n : live) stamps.insert(nodeOf(n).id);
    EXPECT_EQ(stamps.size(), live.size());
    EXPECT_EQ(nodeOf(live.back()).id, curSerialID - 1) << "made after the renumbering";
    EXPECT_EQ(opCacheOccupied, 0);
    EXPECT_EQ(searchInOpCache1(opUnite, live[0], live[1], 0), Node{0});
}

}  // namespace
