#include "engine/OpCache.h"
#include "serial/DiagramStream.h"
#include "support/TestJvm.h"

#include <tuple>
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
    EXPECT_EQ(drainedOccupied(), 0);
}

TEST_F(EngineStream, ReadSearchesAgainForALiveNodeThatACollectionFreedMeanwhile) {
    // d holds the triple of record 3 when the read starts, but only its queued release keeps it
    // in the table; the read's first new node starts a collection, which frees d and hands its
    // record to that new node. Record 3 must then get a node of its own.
    const Node d = mk(2, zero, one);
    decRefCount(testEnv, d);
    ASSERT_EQ(nodeCacheOccupied, 1);
    const std::vector<int32_t> s{1, 5, 2, 3, 0, 1, 3, 2, 0, 1, 4, 1, 3, 2, 4};
    garbageCollectCounter = garbageCollectRate;
    StreamRoots read;
    ASSERT_EQ(engineErrorOf([&] { read = readDiagramStream(s, noProgress); }), "");
    ASSERT_TRUE(read.complete);
    const BddNode& root = nodeOf(read.nodes[0]);
    const BddNode& low = nodeOf(root.low);
    const BddNode& high = nodeOf(root.high);
    EXPECT_EQ(root.var, 1);
    EXPECT_EQ(root.high, d);  // the record freed by the collection, reused for record 2
    EXPECT_EQ(std::tuple(low.var, low.low, low.high), std::tuple(int16_t{2}, zero, one));
    EXPECT_EQ(std::tuple(high.var, high.low, high.high), std::tuple(int16_t{3}, zero, one));
    EXPECT_EQ(refCountOf(low), 1);
    EXPECT_EQ(refCountOf(high), 1);
    EXPECT_EQ(nodeCacheOccupied, 3);
    doDecRefCount(read.nodes[0], nullptr);
    EXPECT_EQ(drainedOccupied(), 0);
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

}  // namespace
