#include "jni/CallFrame.h"
#include "ops/TupleSets.h"
#include "ops/TupleWalks.h"

namespace {

constexpr const char* listError = "Assert failed: BDDNativeImpl.getTuples";

std::string listErrorOf(Node node, const Layout& layout, int32_t maxTuples = -1) {
    return engineErrorOf([&] { listTuples(node, layout, maxTuples); });
}

using TupleListingTest = EngineTest;

TEST_F(TupleListingTest, ListsInAscendingOrderWithinTheBounds) {
    EXPECT_EQ(listTuples(zero, {{0}, {2}, {9}}, -1), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(one, {{0}, {2}, {3}}, -1), (std::vector<Tuple>{{0}, {1}, {2}}));
    EXPECT_EQ(listTuples(one, {{0}, {2}, {4}}, -1), (std::vector<Tuple>{{0}, {1}, {2}, {3}}));
    EXPECT_EQ(listTuples(one, {{0}, {2}, {1000}}, -1), (std::vector<Tuple>{{0}, {1}, {2}, {3}}));
    EXPECT_EQ(listTuples(one, {{0}, {2}, {0}}, -1), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(one, {{0}, {2}, {-5}}, -1), std::vector<Tuple>{});
    // Two fields with a gap (variables 2 and 3): the gap is not enumerated.
    EXPECT_EQ(listTuples(one, {{0, 4}, {2, 1}, {3, 2}}, -1),
              (std::vector<Tuple>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));

    const Layout layout{{1, 5, 9}, {3, 2, 4}, {8, 4, 16}};
    const int32_t values[] = {5, 2, 9};
    const Node single = makeSingleTuple(3, layout.first.data(), layout.width.data(), values);
    EXPECT_EQ(listTuples(single, layout, -1), (std::vector<Tuple>{{5, 2, 9}}));
    EXPECT_EQ(listTuples(single, {{1, 5, 9}, {3, 2, 4}, {8, 2, 16}}, -1), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(single, {{1, 5, 9}, {3, 2, 4}, {8, 4, 9}}, -1), std::vector<Tuple>{});
}

TEST_F(TupleListingTest, LimitsTheNumberOfTuples) {
    const Layout layout{{0, 2}, {2, 2}, {4, 4}};
    const TupleSet five{{0, 3}, {1, 1}, {1, 2}, {2, 0}, {3, 3}};
    const Node set = buildSet(layout, five);
    EXPECT_EQ(listTuples(set, layout, 2), (std::vector<Tuple>{{0, 3}, {1, 1}}));
    EXPECT_EQ(listTuples(set, layout, 1), (std::vector<Tuple>{{0, 3}}));
    EXPECT_EQ(listTuples(set, layout, 5).size(), 5u);
    EXPECT_EQ(listTuples(set, layout, 6).size(), 5u);
    EXPECT_EQ(listTuples(set, layout, -1), std::vector<Tuple>(five.begin(), five.end()));
    EXPECT_EQ(listTuples(set, layout, INT32_MIN), std::vector<Tuple>(five.begin(), five.end()));
    EXPECT_EQ(listTuples(set, layout, 0), std::vector<Tuple>(five.begin(), five.end()));
    // A limit counts listed tuples only, not the ones the bounds cut.
    EXPECT_EQ(listTuples(set, {{0, 2}, {2, 2}, {4, 3}}, 2), (std::vector<Tuple>{{1, 1}, {1, 2}}));

    // With 0 the first path decides: {(0, 3), (1, 0)} over widths 1 and 2 with bounds 2 and 1 cuts
    // the path of field value 0, and the walk ends with nothing listed.
    const Layout cut{{0, 1}, {1, 2}, {2, 1}};
    const Node pair = buildSet(cut, {{0, 3}, {1, 0}});
    EXPECT_EQ(listTuples(pair, cut, 0), std::vector<Tuple>{});
    EXPECT_EQ(listTuples(pair, cut, -1), (std::vector<Tuple>{{1, 0}}));
    EXPECT_EQ(listTuples(pair, cut, 1), (std::vector<Tuple>{{1, 0}}));
}

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

TEST_F(TupleListingTest, MatchesTheModelOnRandomSets) {
    constexpr uint32_t seed = 7177;
    std::mt19937 rng(seed);
    const int32_t limits[] = {-1, 0, 1, 2, 3, 7};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + " of seed " + std::to_string(seed));
        startEngine(1 << 20, 1 << 20, 0, 1);
        const Layout layout = randomLayout(rng);
        const TupleSet tuples = randomTuples(rng, layout, 60);
        const Node set = buildSet(layout, tuples);
        for (const int32_t limit : limits) {
            SCOPED_TRACE("maxTuples " + std::to_string(limit));
            ASSERT_EQ(listTuples(set, layout, limit), expectedListing(layout, tuples, limit));
        }
    }
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

TEST_F(TupleListingTest, ListsLargeSetsAndExhaustsTheStackCleanly) {
    const Layout big{{0, 10}, {9, 9}, {512, 512}};
    const std::vector<Tuple> all = listTuples(one, big, -1);
    ASSERT_EQ(all.size(), 262144u);
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], (Tuple{int32_t(i >> 9), int32_t(i & 511)}));

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
