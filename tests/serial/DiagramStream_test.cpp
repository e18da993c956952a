#include "engine/OpCache.h"
#include "serial/DiagramStream.h"
#include "support/TestJvm.h"

#include <cstdio>
#include <random>
#include <set>
#include <vector>

namespace {

const StreamProgress noProgress{nullptr, 1.0, nullptr};

Node mk(int32_t var, Node low, Node high) {
    incRefCount(low);
    incRefCount(high);
    return cacheNode(var, low, high);
}

std::vector<int32_t> encode(std::vector<Node> roots) {
    const StreamInts s = encodeDiagramStream(roots, noProgress);
    return {s.ints.get(), s.ints.get() + s.length};
}

// Carries out the queued releases and releases what freed records still hold on their children, as
// their reuse would, until nothing is left to release; returns the live inner nodes then.
int32_t drainedAlive() {
    collectGarbage();
    for (bool again = true; again;) {
        again = false;
        for (Node h = 1; h <= static_cast<Node>(totalNodesAllocated); ++h) {
            BddNode& r = nodeOf(h);
            if (r.id != freedStamp || r.low == 0) continue;
            const Node low = r.low, high = r.high;
            r.low = r.high = 0;
            doDecRefCount(low, nullptr);
            doDecRefCount(high, nullptr);
            again = true;
        }
    }
    return nodeCacheOccupied;
}

// The value of variable v in assignment a.
bool bitOf(uint64_t a, int32_t v) { return ((a ^ (static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15u)) >> 61) & 1; }

bool evalNode(Node n, uint64_t a) {
    while (!isTerminal(n)) n = bitOf(a, nodeOf(n).var) ? nodeOf(n).high : nodeOf(n).low;
    return n == one;
}

// The value of node number `n` of a stream that the reader accepted, read straight from its records.
bool evalStream(const std::vector<int32_t>& s, int32_t n, uint64_t a) {
    while (n > 1) {
        size_t at = 2;
        while (s[at] != n) at += 4;
        n = bitOf(a, s[at + 1]) ? s[at + 3] : s[at + 2];
    }
    return n == 1;
}

using EngineStream = EngineTest;

TEST_F(EngineStream, WriterNumbersInPreOrderAndEmitsInPostOrder) {
    const Node a = mk(1, zero, one);
    const Node b = mk(1, one, zero);
    const Node r = mk(0, a, b);
    EXPECT_EQ(encode({r}), (std::vector<int32_t>{1, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2}));
    EXPECT_EQ(encode({}), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(encode({zero, one}), (std::vector<int32_t>{2, 2, 0, 1}));
    // A root inside an earlier one keeps its number; a root given twice stands twice.
    EXPECT_EQ(encode({b, r, b, one}), (std::vector<int32_t>{4, 5, 2, 1, 1, 0, 4, 1, 0, 1, 3, 0, 4, 2, 2, 3, 2, 1}));
    for (const Node n : {a, b, r}) EXPECT_FALSE(isMarked(nodeOf(n)));
    EXPECT_TRUE(isMarked(nodeOf(zero)) && isMarked(nodeOf(one)));
    EXPECT_EQ(nodeOf(zero).id, 0u);
    EXPECT_EQ(nodeOf(one).id, 1u);
}

TEST_F(EngineStream, ReadGivesOneReferencePerParentAndRootAndSharesLiveNodes) {
    const std::vector<int32_t> s{3, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2, 2, 3};
    StreamRoots first;
    ASSERT_EQ(engineErrorOf([&] { first = readDiagramStream(s, noProgress); }), "");
    ASSERT_TRUE(first.complete);
    ASSERT_EQ(first.count, 3);
    const Node r = first.nodes[0], a = first.nodes[2];
    EXPECT_EQ(first.nodes[1], r);
    EXPECT_EQ(refCountOf(nodeOf(r)), 2);
    EXPECT_EQ(refCountOf(nodeOf(a)), 2);
    EXPECT_EQ(refCountOf(nodeOf(nodeOf(r).high)), 1);
    EXPECT_EQ(nodeCacheOccupied, 3);

    const uint32_t stamps = curSerialID;
    StreamRoots again = readDiagramStream(s, noProgress);
    EXPECT_EQ(curSerialID, stamps);  // no node was created
    for (int j = 0; j < 3; ++j) EXPECT_EQ(again.nodes[j], first.nodes[j]);
    EXPECT_EQ(refCountOf(nodeOf(r)), 4);
    EXPECT_EQ(refCountOf(nodeOf(nodeOf(r).high)), 1);
    for (const StreamRoots* roots : {&first, &again})
        for (int j = 0; j < 3; ++j) doDecRefCount(roots->nodes[j], nullptr);
    EXPECT_EQ(drainedAlive(), 0);
}

TEST_F(EngineStream, SerializeEmptiesTheCacheUnlessItRefusesAHandle) {
    JNIEnv* env = testEnv;
    jclass bytesClass = env->FindClass("java/io/ByteArrayOutputStream");
    jobject bytes = env->NewObject(bytesClass, env->GetMethodID(bytesClass, "<init>", "()V"));
    jclass outClass = env->FindClass("java/io/ObjectOutputStream");
    jobject out = env->NewObject(outClass, env->GetMethodID(outClass, "<init>", "(Ljava/io/OutputStream;)V"), bytes);
    jmethodID size = env->GetMethodID(bytesClass, "size", "()I");
    ASSERT_NE(out, nullptr);

    const Node r = mk(0, mk(2, zero, one), one);
    const Node freed = mk(5, one, zero);
    doDecRefCount(freed, nullptr);
    putInOpCache1(opUnite, r, r, r, opHashCode1(opUnite, r, r));
    const int32_t before = env->CallIntMethod(bytes, size);
    const int32_t bad[] = {static_cast<int32_t>(r), static_cast<int32_t>(freed)};
    EXPECT_EQ(engineErrorOf([&] { serialize(out, 2, bad, nullptr, 1.0, nullptr); }),
              "Assert failed: Invalid node handle");
    EXPECT_EQ(env->CallIntMethod(bytes, size), before);
    EXPECT_EQ(opCacheOccupied, 1);  // refused before anything changed

    EXPECT_EQ(engineErrorOf([&] { serialize(out, 1, bad, nullptr, 1.0, nullptr); }), "");
    EXPECT_GT(env->CallIntMethod(bytes, size), before);
    EXPECT_EQ(opCacheOccupied, 0);
    for (int32_t i = 0; i < opCacheLength; ++i) EXPECT_EQ(opCache[i].op, 0);
}

// Every int of a few valid streams changed to telling values, every truncation, appended ints and
// swapped records: each is refused with the one message or read as the valid stream it still is,
// and nothing stays behind.
TEST_F(EngineStream, MalformedStreamsAreRefusedOrReadFaithfully) {
    std::mt19937 rng(20240611);
    int refused = 0, accepted = 0;
    for (int round = 0; round < 6; ++round) {
        std::vector<Node> pool{zero, one};
        for (int32_t v = 7; v >= 0; --v)
            for (int i = 0, below = static_cast<int>(pool.size()); i < 3; ++i) {
                const Node low = pool[rng() % below], high = pool[rng() % below];
                if (low != high) pool.push_back(mk(v, low, high));
            }
        std::vector<Node> roots;
        for (int j = 0; j < 3; ++j) roots.push_back(pool[rng() % pool.size()]);
        const std::vector<int32_t> valid = encode(roots);
        std::set<std::vector<int32_t>> streams;
        for (size_t i = 0; i < valid.size(); ++i)
            for (const int64_t value : {int64_t{valid[i]} - 1, int64_t{valid[i]} + 1, int64_t{-1}, int64_t{0},
                                        int64_t{1}, int64_t{2}, int64_t{valid[1]}, int64_t{valid[1]} - 1,
                                        int64_t{maxInnerVar}, int64_t{zeroVar}, int64_t{0x7FFFFFFF}}) {
                std::vector<int32_t> s = valid;
                s[i] = static_cast<int32_t>(value);
                streams.insert(s);
            }
        for (size_t n = 0; n < valid.size(); ++n) streams.emplace(valid.begin(), valid.begin() + n);
        std::vector<int32_t> longer = valid;
        longer.push_back(0);
        streams.insert(longer);
        for (size_t k = 2; k + 4 < valid.size() - roots.size(); k += 4)
            for (size_t m = k + 4; m + 4 <= valid.size() - roots.size(); m += 4) {
                std::vector<int32_t> s = valid;
                std::swap_ranges(s.begin() + k, s.begin() + k + 4, s.begin() + m);
                streams.insert(s);
            }
        streams.erase(valid);

        const int32_t alive = drainedAlive();
        std::vector<int> counts;
        for (const Node n : pool) counts.push_back(refCountOf(nodeOf(n)));
        for (const auto& s : streams) {
            StreamRoots read;
            const std::string error = engineErrorOf([&] { read = readDiagramStream(s, noProgress); });
            if (!error.empty()) {
                EXPECT_EQ(error, "Assert failed: Malformed diagram stream");
                ++refused;
                continue;
            }
            ++accepted;
            ASSERT_TRUE(read.complete);
            for (int32_t j = 0; j < read.count; ++j) {
                for (uint64_t a = 0; a < 256; ++a) {
                    const uint64_t x = a * 0xD1B54A32D192ED03u;
                    ASSERT_EQ(evalNode(read.nodes[j], x), evalStream(s, s[s.size() - read.count + j], x));
                }
                doDecRefCount(read.nodes[j], nullptr);
            }
        }
        EXPECT_EQ(drainedAlive(), alive);
        for (size_t i = 2; i < pool.size(); ++i) EXPECT_EQ(refCountOf(nodeOf(pool[i])), counts[i]);
        for (size_t i = 2; i < pool.size(); ++i) doDecRefCount(pool[i], nullptr);
    }
    EXPECT_EQ(drainedAlive(), 0);
    EXPECT_GT(accepted, 0);
    std::printf("malformed streams: %d tried, %d refused, %d read as valid\n", refused + accepted, refused, accepted);
}

}  // namespace
