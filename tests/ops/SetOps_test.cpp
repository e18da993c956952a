// Complement, union, intersection and inclusion: what the terminal cases return, which counts
// change, what is cached, and that an error part way leaves nothing behind. (What the results
// mean is checked against a model of tuple sets by the Java differential test.)
#include "engine/OpCache.h"
#include "jni/CallFrame.h"
#include "ops/OpsSupport.h"
#include "ops/SetOps.h"
#include "support/TestJvm.h"

namespace {

int count(Node n) { return refCountOf(nodeOf(n)); }

class SetOpsTest : public EngineTest {
protected:
    TestLayout layout{{0, 3}, {2, 2}};  // two fields of two bits, a gap between them
    Node a = 0, b = 0;
    void SetUp() override {
        EngineTest::SetUp();
        a = tupleSet(layout, {{0, 1}, {2, 3}, {3, 0}});
        b = tupleSet(layout, {{2, 3}, {1, 1}});
    }
};

TEST_F(SetOpsTest, TerminalCasesAndTheSameArgumentTwice) {
    const int z = count(zero), o = count(one), ca = count(a);
    const int32_t occupied = opCacheOccupied;
    // The absorbing terminal comes back unchanged.
    EXPECT_EQ(complement(zero), one);
    EXPECT_EQ(complement(one), zero);
    EXPECT_EQ(unite(one, a), one);
    EXPECT_EQ(unite(a, one), one);
    EXPECT_EQ(intersect(zero, a), zero);
    EXPECT_EQ(intersect(a, zero), zero);
    EXPECT_EQ(count(zero), z);
    EXPECT_EQ(count(one), o);
    EXPECT_EQ(count(a), ca);
    // The neutral terminal, or the same handle twice, returns the other argument with a reference.
    EXPECT_EQ(unite(zero, zero), zero);
    EXPECT_EQ(count(zero), z + 1);
    EXPECT_EQ(unite(zero, a), a);
    EXPECT_EQ(unite(a, zero), a);
    EXPECT_EQ(intersect(one, a), a);
    EXPECT_EQ(intersect(a, one), a);
    EXPECT_EQ(unite(a, a), a);
    EXPECT_EQ(intersect(a, a), a);
    EXPECT_EQ(count(a), ca + 6);
    EXPECT_EQ(superset(a, a), 1);
    EXPECT_EQ(opCacheOccupied, occupied);  // none of these wrote an entry
}

TEST_F(SetOpsTest, ArgumentsAreBorrowedAndKeysKeepTheirOrder) {
    const int ca = count(a), cb = count(b);
    const Node ab = unite(a, b);
    EXPECT_EQ(count(ab), 1);
    EXPECT_EQ(count(a), ca);
    EXPECT_EQ(count(b), cb);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, opHashCode1(opUnite, a, b)), ab);
    EXPECT_EQ(searchInOpCache1(opUnite, b, a, opHashCode1(opUnite, b, a)), Node{0});
    EXPECT_EQ(unite(b, a), ab);
    EXPECT_EQ(count(ab), 3);
    const Node notA = complement(a);
    EXPECT_EQ(count(notA), 1);
    EXPECT_EQ(complement(notA), a);
    EXPECT_EQ(count(a), ca + 1);
}

TEST_F(SetOpsTest, AnArgumentKeptAsAChildGainsTheChildReference) {
    // c tests variable 0, below every variable of d; its low is zero and its high one.
    const Node d = makeSingleTupleUnary(3, 2, 1);
    const Node c = makeSingleTupleUnary(0, 1, 1);
    const int cd = count(d);
    const Node u = unite(d, c);  // creates (0, d, one): the child link holds a reference on d
    EXPECT_EQ(nodeOf(u).low, d);
    EXPECT_EQ(count(d), cd + 1);
    clearOpCache();
    EXPECT_EQ(unite(d, c), u);  // the node exists: the handed-over reference on d is dropped
    EXPECT_EQ(count(d), cd + 1);
}

TEST_F(SetOpsTest, ARepeatedInclusionQuestionIsAnsweredByTheCache) {
    const Node ab = unite(a, b);
    for (const auto& [x, y] : {std::pair{ab, a}, std::pair{a, ab}}) {
        const int cx = count(x), cy = count(y);
        const int32_t s = superset(x, y);
        EXPECT_EQ(s, x == ab ? 1 : 0);
        EXPECT_EQ(count(x), cx);
        EXPECT_EQ(count(y), cy);
        const Node answer = s != 0 ? one : zero;
        const int before = count(answer);
        const OpCacheEntry& e = opCache[opHashCode1(opSuperset, x, y)];
        // Drifting terminal counts can lose the replacement rule, so the store may be refused.
        const bool stored = e.op == opSuperset && e.firstNode == x && e.secondNode == y;
        EXPECT_EQ(superset(x, y), s);
        EXPECT_EQ(count(answer), before + (stored ? 1 : 0));
    }
}

// Runs `op` with less and less stack forbidden until it succeeds; every failure on the way must be
// "Stack exhausted" and must leave the store as it was. Returns the result and the failures seen.
std::pair<Node, int> withGrowingStack(const std::function<Node()>& op) {
    const int32_t held = drainedOccupied();
    char* const base = static_cast<char*>(__builtin_frame_address(0));
    int failures = 0;
    for (int32_t room = 0;; room += 64) {
        Node result = 0;
        const std::string message = engineErrorOf([&] {
            stackLimit = base - room;
            result = op();
        });
        stackLimit = threadStackLimit();
        if (result != 0) return {result, failures};
        EXPECT_EQ(message, "Assert failed: Stack exhausted");
        EXPECT_EQ(drainedOccupied(), held) << "room " << room;
        if (message.empty()) return {0, failures};
        ++failures;
    }
}

TEST_F(SetOpsTest, AStackTooShallowLeavesNothingBehind) {
    // High branches with sub-diagrams of their own, low branches that run deeper: the recursion
    // builds nodes before it runs out of stack.
    TestLayout wide{{0}, {12}};
    std::vector<std::vector<int32_t>> tuples;
    for (int32_t v = 0; v < 4096; v += 37) tuples.push_back({v});
    const Node s = tupleSet(wide, tuples);
    const auto [result, failures] = withGrowingStack([&] { return complement(s); });
    EXPECT_GT(failures, 3);
    EXPECT_EQ(intersect(result, s), zero);
    EXPECT_EQ(unite(result, s), one);
    const auto [q, qFailures] = withGrowingStack([&] { return relprod(s, result, 3, 4); });
    EXPECT_GT(qFailures, 3);
    EXPECT_EQ(q, zero);
}

}  // namespace
