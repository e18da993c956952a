#include "jni/CallFrame.h"
#include "ops/TupleSets.h"
#include "ops/TupleWalks.h"

namespace {

constexpr const char* listError = "Assert failed: BDDNativeImpl.getTuples";

std::string listErrorOf(Node node, const Layout& layout, int32_t maxTuples = -1) {
    return engineErrorOf([&] { listTuples(node, layout, maxTuples); });
}

using TupleListingTest = EngineTest;

TEST_F(TupleListingTest, EdgeLayouts) {
    // No fields: the empty tuple alone, whatever the limit.
    EXPECT_EQ(listTuples(zero, {}, -1), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(one, {}, -1), std::vector<Tuple>{Tuple{}});
    EXPECT_EQ(listTuples(one, {}, 0), std::vector<Tuple>{Tuple{}});
    EXPECT_EQ(listErrorOf(makeSingleTupleUnary(3, 1, 1), {}), listError);
    // A field of width 0 holds 0 alone, within a bound above 0.
    const Layout empty{{0, 1, 1}, {1, 0, 1}, {2, 1, 2}};
    EXPECT_EQ(listTuples(one, empty, -1), (std::vector<Tuple>{{0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 1}}));
    EXPECT_EQ(listTuples(one, {{0, 1, 1}, {1, 0, 1}, {2, 0, 2}}, -1), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(one, {{0, 3}, {0, 1}, {1, 2}}, -1), (std::vector<Tuple>{{0, 0}, {0, 1}}));
    // 31-bit fields: the top values are listed and the bound is tested on the whole value.
    const Layout wide{{0}, {31}, {INT32_MAX}};
    const Node top = makeSingleTupleUnary(0, 31, INT32_MAX - 1);
    EXPECT_EQ(listTuples(top, wide, -1), (std::vector<Tuple>{{INT32_MAX - 1}}));
    const Node topmost = makeSingleTupleUnary(0, 31, INT32_MAX);
    EXPECT_EQ(listTuples(topmost, wide, -1), std::vector<Tuple>{});
}

TEST_F(TupleListingTest, RefusesVariablesOutsideTheLayout) {
    const Node set = buildSet({{0, 3}, {2, 2}, {9, 9}}, {{1, 2}, {3, 0}});  // variables 0, 1, 3, 4
    EXPECT_EQ(listErrorOf(set, {{0, 4}, {2, 1}, {9, 9}}), listError);
    EXPECT_EQ(listErrorOf(set, {{0}, {2}, {9}}), listError);
    EXPECT_EQ(listErrorOf(set, {{1, 3}, {1, 2}, {9, 9}}), listError);
    EXPECT_EQ(listErrorOf(set, {{0}, {2}, {-1}}), "");  // the bound cuts before the walk meets 3
    EXPECT_EQ(listErrorOf(set, {{0, 4}, {2, 1}, {9, 9}}, 0), listError);
    EXPECT_EQ(listErrorOf(one, {{0, 2}, {3, 1}, {9, 9}}), "Assert failed: Invalid tuple layout");
}

// A list whose add fails stands in for a Vector that cannot grow: the walk ends at the first
// failing add, with the Java exception pending.
TEST_F(TupleListingTest, AJavaExceptionFromAddEndsTheWalk) {
    JNIEnv* env = testEnv;
    jclass queueClass = env->FindClass("java/util/concurrent/ArrayBlockingQueue");
    jobject queue = env->NewObject(queueClass, env->GetMethodID(queueClass, "<init>", "(I)V"), 2);
    const jmethodID add = env->GetMethodID(queueClass, "add", "(Ljava/lang/Object;)Z");
    const Layout layout{{0}, {3}, {8}};
    int32_t curValues[1] = {0};
    const TupleListing walk{queue, add, 1, layout.first.data(), layout.width.data(), layout.bound.data(), curValues};
    int32_t returned = 99;
    EXPECT_EQ(engineErrorOf([&] { returned = getNTuplesWork(one, walk, 0, 0, -1); }), "Queue full");
    EXPECT_EQ(returned, 99);
    EXPECT_EQ(env->CallIntMethod(queue, env->GetMethodID(queueClass, "size", "()I")), 2);
    env->DeleteLocalRef(queue);
    env->DeleteLocalRef(queueClass);
}

TEST_F(TupleListingTest, DeepDiagramsExhaustTheStackCleanly) {
    Layout deep;
    for (int f = 0; f < 100; ++f) {
        deep.first.push_back(30 * f);
        deep.width.push_back(30);
        deep.bound.push_back(INT32_MAX);
    }
    const std::vector<int32_t> values(100, 0x15555555);
    const Node chain = makeSingleTuple(100, deep.first.data(), deep.width.data(), values.data());
    EXPECT_EQ(engineErrorOf([&] {
                  stackLimit = static_cast<char*>(__builtin_frame_address(0)) - (32 << 10);
                  listTuples(chain, deep, -1);
              }),
              "Assert failed: Stack exhausted");
    stackLimit = threadStackLimit();
    EXPECT_EQ(listTuples(chain, deep, -1), std::vector<Tuple>{values});
}

}  // namespace
