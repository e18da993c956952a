// Complement, union, intersection and inclusion: terminal cases, reference effects, cache entries
// and the identities between them.
#include "engine/OpCache.h"
#include "jni/CallFrame.h"
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

namespace {

class SetOpsTest : public EngineTest {
protected:
    // Two fields of two bits, a gap of one variable between them.
    TestLayout layout{{0, 3}, {2, 2}};
    Node a = 0, b = 0;
    void SetUp() override {
        EngineTest::SetUp();
        a = tupleSet(layout, {{0, 1}, {2, 3}, {3, 0}});
        b = tupleSet(layout, {{2, 3}, {1, 1}});
    }
    static int count(Node n) { return refCountOf(nodeOf(n)); }
};

TEST_F(SetOpsTest, TerminalCasesReturnTerminalsWithoutTouchingCounts) {
    const int z = count(zero), o = count(one), ca = count(a);
    EXPECT_EQ(complement(zero), one);
    EXPECT_EQ(complement(one), zero);
    EXPECT_EQ(unite(one, a), one);
    EXPECT_EQ(unite(a, one), one);
    EXPECT_EQ(intersect(zero, a), zero);
    EXPECT_EQ(intersect(a, zero), zero);
    EXPECT_EQ(count(zero), z);
    EXPECT_EQ(count(one), o);
    EXPECT_EQ(count(a), ca);

    // The neutral terminal returns the other argument with one reference added.
    EXPECT_EQ(unite(zero, zero), zero);
    EXPECT_EQ(count(zero), z + 1);
    EXPECT_EQ(unite(zero, a), a);
    EXPECT_EQ(unite(a, zero), a);
    EXPECT_EQ(intersect(one, a), a);
    EXPECT_EQ(intersect(a, one), a);
    EXPECT_EQ(count(a), ca + 4);
}

TEST_F(SetOpsTest, SameArgumentTwiceIsReturnedWithoutACacheEntry) {
    const int ca = count(a);
    const int32_t occupied = opCacheOccupied;
    EXPECT_EQ(unite(a, a), a);
    EXPECT_EQ(intersect(a, a), a);
    EXPECT_EQ(count(a), ca + 2);
    EXPECT_EQ(opCacheOccupied, occupied);
    EXPECT_EQ(superset(a, a), 1);
    EXPECT_EQ(opCacheOccupied, occupied);
}

TEST_F(SetOpsTest, IdentitiesGiveEqualHandles) {
    const Node notA = complement(a);
    EXPECT_EQ(count(notA), 1);
    EXPECT_EQ(complement(notA), a);
    EXPECT_EQ(intersect(a, notA), zero);
    EXPECT_EQ(unite(a, notA), one);

    const Node ab = unite(a, b);
    EXPECT_EQ(unite(b, a), ab);
    // De Morgan: the complement of a union is the intersection of the complements.
    const Node notB = complement(b);
    EXPECT_EQ(complement(ab), intersect(notA, notB));
    EXPECT_EQ(intersect(a, b), tupleSet(layout, {{2, 3}}));
    EXPECT_EQ(ab, tupleSet(layout, {{0, 1}, {2, 3}, {3, 0}, {1, 1}}));
}

TEST_F(SetOpsTest, KeysAreNotNormalisedAndArgumentsAreBorrowed) {
    const int ca = count(a), cb = count(b);
    const Node ab = unite(a, b);
    EXPECT_EQ(count(ab), 1);
    EXPECT_EQ(count(a), ca);
    EXPECT_EQ(count(b), cb);
    const int32_t hab = opHashCode1(opUnite, a, b);
    const int32_t hba = opHashCode1(opUnite, b, a);
    const Node hit = searchInOpCache1(opUnite, a, b, hab);
    EXPECT_EQ(hit, ab);
    EXPECT_EQ(searchInOpCache1(opUnite, b, a, hba), Node{0});
    EXPECT_EQ(unite(b, a), ab);
    EXPECT_EQ(count(ab), 3);
}

TEST_F(SetOpsTest, AnArgumentKeptAsAChildGainsTheChildReference) {
    // c tests variable 0, a lower variable than every node of d; c's low is zero, its high one.
    const Node d = makeSingleTupleUnary(3, 2, 1);
    const Node c = makeSingleTupleUnary(0, 1, 1);
    const int cd = count(d);
    const Node u = unite(d, c);  // creates (0, d, one): d gains the reference of that child link
    EXPECT_EQ(nodeOf(u).low, d);
    EXPECT_EQ(nodeOf(u).high, one);
    EXPECT_EQ(count(d), cd + 1);

    clearOpCache();
    const Node again = unite(d, c);  // the node exists: the child reference is dropped again
    EXPECT_EQ(again, u);
    EXPECT_EQ(count(d), cd + 1);
    EXPECT_EQ(count(u), 2);
}

TEST_F(SetOpsTest, SupersetAgreesWithUniteAndIntersect) {
    const Node ab = unite(a, b);
    const Node sub = tupleSet(layout, {{0, 1}, {3, 0}});
    const std::vector<Node> sets{zero, one, a, b, ab, sub, complement(a)};
    for (const Node x : sets) {
        for (const Node y : sets) {
            const int cx = count(x), cy = count(y);
            const int32_t s = superset(x, y);
            EXPECT_EQ(count(x), cx);
            EXPECT_EQ(count(y), cy);
            const int z = count(zero), o = count(one);
            const OpCacheEntry& e = opCache[opHashCode1(opSuperset, x, y)];
            if (e.op == opSuperset && e.firstNode == x && e.secondNode == y) {
                // Asked again, the answer comes from the cache with one reference on its terminal.
                // (A store can be refused: drifting terminal counts lose the replacement rule.)
                EXPECT_EQ(superset(x, y), s);
                EXPECT_EQ(count(s != 0 ? one : zero), (s != 0 ? o : z) + 1);
            }
            EXPECT_EQ(s == 1, unite(x, y) == x) << x << " " << y;
            EXPECT_EQ(s == 1, intersect(x, y) == y) << x << " " << y;
        }
    }
    EXPECT_EQ(superset(ab, a), 1);
    EXPECT_EQ(superset(a, ab), 0);
    EXPECT_EQ(superset(sub, a), 0);
    EXPECT_EQ(superset(a, sub), 1);
}

TEST_F(SetOpsTest, AStackTooShallowLeavesNothingBehind) {
    // A set whose high branches hold sub-diagrams of their own and whose low branches run deep:
    // the recursion builds nodes, then runs out of stack on a deeper path.
    TestLayout wide{{0}, {12}};
    std::vector<std::vector<int32_t>> tuples;
    for (int32_t v = 0; v < 4096; v += 37) tuples.push_back({v});
    const Node s = tupleSet(wide, tuples);
    const int32_t held = drainedOccupied();
    char* const base = static_cast<char*>(__builtin_frame_address(0));
    int failures = 0;
    Node result = 0;
    for (int32_t room = 0; result == 0; room += 64) {
        const std::string message = engineErrorOf([&] {
            stackLimit = base - room;
            result = complement(s);
        });
        stackLimit = threadStackLimit();
        if (result != 0) break;
        ASSERT_EQ(message, "Assert failed: Stack exhausted");
        ++failures;
        EXPECT_EQ(drainedOccupied(), held) << "room " << room;
    }
    EXPECT_GT(failures, 3);
    EXPECT_EQ(intersect(result, s), zero);
    EXPECT_EQ(unite(result, s), one);
}

}  // namespace
