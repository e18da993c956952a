// What the Java tests cannot see of the operations: one cut short by the stack leaves nothing behind.
#include "support/AnyVarsCheck.h"
#include "support/Engine.h"

#include <functional>

namespace {

// Runs `op` with more and more stack until it answers; every failure on the way must be "Stack
// exhausted" and leave the store as it was. Returns the number of failures that came after the
// operation had built a node.
int failuresAfterANodeWithGrowingStack(const std::function<Node()>& op) {
    const int32_t held = drainStore();
    for (int32_t room = 0, late = 0;; room += 16) {
        const uint32_t stamps = manager.curSerialID;
        const std::string message = errorOf([&] {
            setStackLimit(static_cast<char*>(__builtin_frame_address(0)) - room);
            op();
        });
        setStackLimit(nullptr);
        if (message.empty()) return late;
        EXPECT_EQ(message, msgStackExhausted);
        EXPECT_EQ(drainStore(), held) << "room " << room;
        late += manager.curSerialID != stamps ? 1 : 0;
    }
}

// The branch that each recursion takes first is short and builds a node; the other one is a long
// chain, where the stack runs out: complement and union take the high branch first, the
// relational product the low one where both operands test a variable of the run.
TEST_F(EngineTest, AnOperationCutShortByTheStackLeavesNothingBehind) {
    const int32_t first[] = {0, 2}, width[] = {1, 1}, value[] = {0, 0};
    const Node x = unite(makeSingleTupleUnary(0, 2, 3), makeSingleTupleUnary(0, 12, 0x2AA));
    const Node x2 = unite(makeSingleTupleUnary(0, 3, 5), makeSingleTupleUnary(0, 12, 0x2AB));
    const Node y = unite(makeSingleTupleUnary(0, 2, 1), makeSingleTupleUnary(0, 12, 0xAAA));
    const Node y2 = unite(makeSingleTuple(2, first, width, value), makeSingleTupleUnary(0, 12, 0xAAB));
    EXPECT_GT(failuresAfterANodeWithGrowingStack([&] { return complement(x); }), 0);
    EXPECT_GT(failuresAfterANodeWithGrowingStack([&] { return unite(x, x2); }), 0);
    EXPECT_GT(failuresAfterANodeWithGrowingStack([&] { return relprod(y, y2, 0, 1); }), 0);
}

}  // namespace

namespace {

// The operations over any variables, checked by evaluation on fixed inputs of the fuzz target's check.
TEST(AnyVars, EveryResultAgreesWithEvaluation) {
    uint64_t x = 0x9E3779B97F4A7C15u;
    for (int input = 0; input < 300; ++input) {
        std::vector<uint8_t> bytes(400);
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x);
        }
        setStackLimit(nullptr);
        checkAnyVarsInput(bytes.data(), bytes.size());
    }
}

}  // namespace
