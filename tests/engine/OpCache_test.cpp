// The operation cache's replacement rule.
#include "engine/OpCache.h"
#include "support/Engine.h"

namespace {

Node fresh(int32_t var) { return cacheNode(var, zero, one); }

// Frees n at once (it must hold exactly one reference) and hands its record to a new node.
void reuseRecordOf(Node n, int32_t var) {
    doDecRefCount(n);
    ASSERT_EQ(fresh(var), n);
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

}  // namespace
