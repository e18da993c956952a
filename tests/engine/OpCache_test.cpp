// The operation cache: the three hashes, lookups after a free and a reuse, the key-stamp guard,
// the replacement rule, growth by replacement up to the bound, count entries, and the stamp wrap.
#include "engine/OpCache.h"
#include "support/TestJvm.h"

#include <set>

namespace {

class OpCacheTest : public EngineTest {
protected:
    static int count(Node n) { return refCountOf(nodeOf(n)); }
    // A fresh one-variable node; distinct variables give distinct nodes.
    static Node fresh(int32_t var) { return cacheNode(var, zero, one); }
    // Frees n at once (it must hold exactly one reference) and hands its record to the next node
    // made, which is returned.
    static Node reuseRecordOf(Node n, int32_t var) {
        doDecRefCount(n, nullptr);
        EXPECT_EQ(firstFreeNode, n);
        const Node m = fresh(var);
        EXPECT_EQ(m, n);
        return m;
    }
    // Hashes only: the cache keeps its slots, and its true size comes back before it is freed.
    void useBits(int32_t bits) {
        opCacheBitsCount = bits;
        opCacheLength = int32_t{1} << bits;
    }
    void SetUp() override {
        EngineTest::SetUp();
        realBits = opCacheBitsCount;
    }
    void TearDown() override { useBits(realBits); }
    int32_t realBits = 0;
};

TEST_F(OpCacheTest, HashesReadStampsWithArithmeticShifts) {
    const Node a = fresh(1), b = fresh(2);
    nodeOf(a).id = 10;
    nodeOf(b).id = 20;
    EXPECT_EQ(opHashCode1(opUnite, a, b), 89);
    EXPECT_EQ(opHashCode2(opExists, a, 5), 50);
    EXPECT_EQ(opHashCode3(opRelprod, a, b, 5), 103);
    EXPECT_EQ(opHashCode1(opCount, a, a), 67);
    useBits(8);
    EXPECT_EQ(opHashCode1(opUnite, a, b), 158);

    // Stamps and integers with bit 31 set: the right shifts copy the sign bit.
    nodeOf(a).id = 0xF0000000u;
    nodeOf(b).id = 0x80000001u;
    useBits(7);
    EXPECT_EQ(opHashCode1(opUnite, a, b), 88);
    useBits(22);
    EXPECT_EQ(opHashCode1(opUnite, a, b), 2052814);
    EXPECT_EQ(opHashCode3(opRelprod, a, b, -7), 2052788);
    useBits(16);
    nodeOf(a).id = 0x80000000u;
    EXPECT_EQ(opHashCode2(opExistsVar, a, -3), 43565);
}

TEST_F(OpCacheTest, HitsAddOneReferenceAndDiedResultsMiss) {
    const Node a = fresh(1), b = fresh(2), r = fresh(3);
    EXPECT_EQ(putInOpCache1(opUnite, a, b, r, 5), r);
    EXPECT_EQ(putInOpCache2(opExists, a, 7, r, 6), r);
    EXPECT_EQ(putInOpCache3(opRelprod, a, b, 7, r, 9), r);
    EXPECT_EQ(count(r), 1);
    EXPECT_EQ(opCacheOccupied, 3);

    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 5), r);
    EXPECT_EQ(count(r), 2);
    // Another operation, the keys swapped, another integer: misses that change nothing.
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 5), Node{0});
    EXPECT_EQ(searchInOpCache1(opUnite, b, a, 5), Node{0});
    EXPECT_EQ(searchInOpCache2(opExists, a, 8, 6), Node{0});
    EXPECT_EQ(searchInOpCache3(opRelprod, a, b, 8, 9), Node{0});
    EXPECT_EQ(searchInOpCache2(opExists, a, 7, 6), r);
    EXPECT_EQ(searchInOpCache3(opRelprod, a, b, 7, 9), r);
    EXPECT_EQ(count(r), 4);

    doDecRefCount(r, nullptr);
    doDecRefCount(r, nullptr);
    doDecRefCount(r, nullptr);
    const Node again = reuseRecordOf(r, 4);  // freed, then reused by another node
    EXPECT_EQ(again, r);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 5), Node{0});
    EXPECT_EQ(searchInOpCache2(opExists, a, 7, 6), Node{0});
    EXPECT_EQ(searchInOpCache3(opRelprod, a, b, 7, 9), Node{0});
    EXPECT_EQ(count(again), 1);
}

TEST_F(OpCacheTest, AReusedKeyRecordNeverMeetsItsOldEntries) {
    const Node a = fresh(1), b = fresh(2), r = fresh(3);
    const Node keptA = fresh(5);  // keeps a's old entries' results alive elsewhere
    putInOpCache1(opUnite, a, b, r, 5);
    putInOpCache2(opExists, b, 7, r, 6);
    putInOpCache3(opRelprod, a, b, 7, r, 9);
    putInOpCache4(opCount, a, 42, 11);
    putInOpCache4(opCount, b, 43, 12);
    EXPECT_EQ(searchInOpCache4(opCount, a, 11), 42);

    const Node newA = reuseRecordOf(a, 6);
    const Node newB = reuseRecordOf(b, 7);
    EXPECT_NE(nodeOf(r).id, freedStamp);  // the results still live
    EXPECT_EQ(searchInOpCache1(opUnite, newA, newB, 5), Node{0});
    EXPECT_EQ(searchInOpCache2(opExists, newB, 7, 6), Node{0});
    EXPECT_EQ(searchInOpCache3(opRelprod, newA, newB, 7, 9), Node{0});
    EXPECT_EQ(searchInOpCache4(opCount, newA, 11), -1);
    EXPECT_EQ(searchInOpCache4(opCount, newB, 12), -1);
    EXPECT_EQ(count(r), 1);
    EXPECT_EQ(count(keptA), 1);

    // Such entries can never be hit again, so any store replaces them, whatever the counts.
    const int32_t occupied = opCacheOccupied;
    const Node weak = fresh(8);
    for (int i = 0; i < 3; ++i) addRef(r);
    EXPECT_EQ(putInOpCache1(opUnite, newA, newB, weak, 5), weak);
    EXPECT_EQ(opCacheOccupied, occupied);
    EXPECT_EQ(searchInOpCache1(opUnite, newA, newB, 5), weak);
}

TEST_F(OpCacheTest, ReplacementPrefersResultsWithMoreReferences) {
    const Node a = fresh(1), b = fresh(2);
    const Node held = fresh(3), fewer = fresh(4), same = fresh(5);
    addRef(held);
    addRef(held);  // count 3
    addRef(fewer);  // count 2
    addRef(same);
    addRef(same);  // count 3
    putInOpCache1(opUnite, a, b, held, 7);
    EXPECT_EQ(opCacheOccupied, 1);

    EXPECT_EQ(putInOpCache1(opIntersect, b, a, fewer, 7), fewer);  // refused
    EXPECT_EQ(searchInOpCache1(opIntersect, b, a, 7), Node{0});
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), held);
    EXPECT_EQ(opCacheOccupied, 1);
    doDecRefCount(held, nullptr);  // back to 3

    EXPECT_EQ(putInOpCache2(opExistsVar, a, 2, same, 7), same);  // equal counts replace
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), Node{0});
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), same);
    EXPECT_EQ(opCacheOccupied, 1);

    // Once the slot's result has died, the store replaces it whatever the counts.
    for (int i = 0; i < 4; ++i) doDecRefCount(same, nullptr);
    ASSERT_EQ(nodeOf(same).id, freedStamp);
    const Node weak = fresh(6);
    EXPECT_EQ(putInOpCache3(opRelprod, a, b, 0, weak, 7), weak);
    EXPECT_EQ(searchInOpCache3(opRelprod, a, b, 0, 7), weak);
    EXPECT_EQ(opCacheOccupied, 1);
}

TEST_F(OpCacheTest, CountEntriesOverwriteAndLowerTheOccupancy) {
    const Node a = fresh(1), b = fresh(2), r = fresh(3);
    putInOpCache1(opUnite, a, b, r, 3);
    EXPECT_EQ(opCacheOccupied, 1);
    EXPECT_EQ(putInOpCache4(opCount, a, 12, 3), 12);
    EXPECT_EQ(opCacheOccupied, 0);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 3), Node{0});
    EXPECT_EQ(searchInOpCache4(opCount, a, 3), 12);
    EXPECT_EQ(searchInOpCache4(opCount, b, 3), -1);
    EXPECT_EQ(putInOpCache4(opCount, b, -1, 4), -1);  // over an empty slot: no change
    EXPECT_EQ(opCacheOccupied, 0);
    EXPECT_EQ(searchInOpCache4(opCount, b, 4), -1);  // a stored -1 reads as a miss
    // A node store into a count slot occupies it again.
    putInOpCache2(opRename, a, 1, r, 3);
    EXPECT_EQ(opCacheOccupied, 1);
    EXPECT_EQ(searchInOpCache4(opCount, a, 3), -1);
}

// Fills slots 0, 1, 2, ... with distinct entries until the cache is replaced; returns the number
// of stores made.
int fillUntilReplaced(Node a, Node r) {
    const int32_t length = opCacheLength;
    int stores = 0;
    while (opCacheLength == length && stores < length) {
        putInOpCache2(opExists, a, stores, r, stores);
        ++stores;
    }
    return stores;
}

TEST_F(OpCacheTest, GrowthByReplacementUpToTheBound) {
    struct Case {
        int32_t bound;
        std::vector<int32_t> lengths;     // sizes reached, after init's 128
        std::vector<int32_t> thresholds;  // threshold after each replacement
    };
    const std::vector<Case> cases{{2048, {256, 512, 1024, 2048}, {192, 384, 768, 2049}},
                                  {511, {256}, {257}},
                                  {0, {256}, {257}},
                                  {1024, {256, 512, 1024}, {192, 384, 1025}},
                                  {1023, {256, 512}, {192, 513}}};
    for (const Case& c : cases) {
        startEngine(1 << 20, c.bound, 0, 1);
        const Node a = fresh(1), r = fresh(2);
        EXPECT_EQ(opCacheTreshold, 96);
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            const int32_t threshold = opCacheTreshold;
            EXPECT_EQ(fillUntilReplaced(a, r), threshold + 1) << "bound " << c.bound;
            EXPECT_EQ(opCacheLength, c.lengths[i]);
            EXPECT_EQ(opCacheTreshold, c.thresholds[i]);
            EXPECT_EQ(opCacheOccupied, 0);
            // The entry that tipped the balance went with all the others.
            EXPECT_EQ(searchInOpCache2(opExists, a, threshold, threshold), Node{0});
        }
        // The last size stays: every slot can be filled.
        EXPECT_EQ(fillUntilReplaced(a, r), opCacheLength);
        EXPECT_EQ(opCacheLength, c.lengths.back());
        EXPECT_EQ(opCacheOccupied, opCacheLength);
    }
}

TEST_F(OpCacheTest, StampsStayUniqueAcrossTheWrap) {
    std::vector<Node> live;
    for (int32_t v = 0; v < 40; ++v) live.push_back(fresh(v));
    const Node a = live[0], b = live[1];
    putInOpCache1(opUnite, a, b, live[2], 0);
    curSerialID = 0xFFFFFFFBu;
    for (int32_t v = 40; v < 44; ++v) live.push_back(fresh(v));  // stamps ...FB, ...FC, ...FD, then the wrap
    EXPECT_LT(curSerialID, 0xFFFFFFF0u);
    std::set<uint32_t> stamps;
    for (const Node n : live) {
        EXPECT_GE(nodeOf(n).id, 3u);
        EXPECT_LT(nodeOf(n).id, curSerialID);
        stamps.insert(nodeOf(n).id);
    }
    EXPECT_EQ(stamps.size(), live.size());
    EXPECT_EQ(nodeOf(live.back()).id, curSerialID - 1);  // made after the renumbering
    EXPECT_EQ(opCacheOccupied, 0);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 0), Node{0});
    EXPECT_EQ(nodeOf(zero).id, 1u);
    EXPECT_EQ(nodeOf(one).id, 2u);

    // Numbering goes on above the last stamp; entries stored now are found.
    putInOpCache1(opUnite, a, b, live[2], opHashCode1(opUnite, a, b));
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, opHashCode1(opUnite, a, b)), live[2]);
}

TEST_F(OpCacheTest, CurSerialIdNeverHoldsTheFreedStamp) {
    curSerialID = 0xFFFFFFFDu;
    const Node a = fresh(3);
    EXPECT_EQ(nodeOf(a).id, 0xFFFFFFFDu);
    EXPECT_EQ(curSerialID, 0xFFFFFFFEu);
    const Node b = fresh(4);  // taking ...FE would let the counter reach ...FF: renumbered first
    EXPECT_EQ(nodeOf(a).id, 3u);
    EXPECT_EQ(nodeOf(b).id, 4u);
    EXPECT_EQ(curSerialID, 5u);
}

}  // namespace
