#include "serial/Marking.h"

#include "serial/StreamBuffer.h"

namespace {

// Two entries per variable on a path, with room to spare.
constexpr int walkStackSize = 2 * (oneVar + 1) + 16;
Node walkStack[walkStackSize];
uint8_t walkState[walkStackSize];
int32_t* walkSlot[walkStackSize];

[[noreturn]] void walkTooDeep() { throwException(msgVariableOrder); }

inline void push(int& top, Node n) {
    if (top == walkStackSize) [[unlikely]] walkTooDeep();
    walkStack[top++] = n;
}

enum class Visit { descend, skipChildren, stop };

// Marks every unmarked node reachable from `node` through unmarked nodes; `visit` sees each node as
// it is marked and says whether the walk goes on below it. False when a visit stopped the walk.
template <class F>
bool markReachable(Node node, F visit) {
    int top = 0;
    push(top, node);
    while (top > 0) {
        BddNode& r = nodeOf(walkStack[--top]);
        if (isMarked(r)) continue;
        setMark(r);
        const Visit next = visit(r);
        if (next == Visit::stop) return false;
        if (next == Visit::skipChildren) continue;
        push(top, r.high);
        push(top, r.low);
    }
    return true;
}

}  // namespace

void unMark(Node node) {
    int top = 0;
    push(top, node);
    while (top > 0) {
        const Node n = walkStack[--top];
        BddNode& r = nodeOf(n);
        if (!isMarked(r) || isTerminal(n)) continue;
        clearMark(r);
        push(top, r.high);
        push(top, r.low);
    }
}

int32_t evaluateReachableNodesCnt(Node node) {
    int32_t count = 0;
    markReachable(node, [&](const BddNode&) {
        ++count;
        return Visit::descend;
    });
    return count;
}

namespace {

// Faults in the next stretch of the copies' pages, so that numbering does not take one page fault
// every 256 nodes.
void prepareNumbered(NumberedNodes& numbered) {
    if (numbered.ready >= numbered.capacity) throwOutOfMemory();
    constexpr int64_t stretch = int64_t{1} << 16;
    const int64_t more = numbered.capacity - numbered.ready < stretch ? numbered.capacity - numbered.ready : stretch;
    prefaultStreamBytes(numbered.nodes + numbered.ready, static_cast<size_t>(more) * sizeof(NumberedNode));
    numbered.ready += more;
}

}  // namespace

void evaluateNodeID(Node node, NumberedNodes& numbered) {
    // Each entry also names the field that receives the number of the node it holds, the low or
    // high of its parent's copy (the root's goes nowhere). Terminal children are not pushed: their
    // numbers are 0 and 1, and their marks would end the visit at once.
    int32_t rootNumber;
    int top = 0;
    push(top, node);
    walkSlot[0] = &rootNumber;
    while (top > 0) {
        --top;
        const Node n = walkStack[top];
        int32_t* const slot = walkSlot[top];
        BddNode& r = nodeOf(n);
        if (isMarked(r) || isTerminal(n)) {
            *slot = static_cast<int32_t>(r.id);
            continue;
        }
        const int32_t number = serializedNodeID;
        const int64_t k = int64_t{number} - 2;
        if (k >= numbered.ready) [[unlikely]] prepareNumbered(numbered);
        setMark(r);
        r.id = static_cast<uint32_t>(number);
        ++serializedNodeID;
        *slot = number;
        NumberedNode& copy = numbered.nodes[k];
        copy.handle = n;
        copy.var = r.var;
        const Node low = r.low;
        const Node high = r.high;
        if (isTerminal(high)) {
            copy.high = high == zero ? 0 : 1;
        } else {
            __builtin_prefetch(&nodeOf(high));
            push(top, high);
            walkSlot[top - 1] = &copy.high;
        }
        if (isTerminal(low)) {
            copy.low = low == zero ? 0 : 1;
        } else {
            push(top, low);
            walkSlot[top - 1] = &copy.low;
        }
    }
}

void unMarkNumbered(const NumberedNode* numbered, int64_t count) {
    // The nodes are independent of each other, so many of them are fetched at once.
    constexpr int64_t ahead = 16;
    for (int64_t k = 0; k < count; ++k) {
        if (k + ahead < count) __builtin_prefetch(&nodeOf(numbered[k + ahead].handle), 1);
        clearMark(nodeOf(numbered[k].handle));
    }
}

void serializeNode(int32_t number, const NumberedNode* numbered, uint8_t* emitted) {
    // Each entry walks through three states: entered (flag it, then descend low), low done
    // (descend high), both done (emit the record).
    int32_t* const out = dataBuffer;
    int32_t pos = bufferPos;
    int top = 0;
    const auto enter = [&](int32_t child) {
        if (child < 2 || emitted[child - 2] != 0) return false;
        emitted[child - 2] = 1;
        push(top, static_cast<Node>(child - 2));
        walkState[top - 1] = 0;
        return true;
    };
    enter(number);
    while (top > 0) {
        const uint32_t k = walkStack[top - 1];
        const NumberedNode& copy = numbered[k];
        uint8_t& state = walkState[top - 1];
        if (state == 0) {
            state = 1;
            if (enter(copy.low)) continue;
        }
        if (state == 1) {
            state = 2;
            if (enter(copy.high)) continue;
        }
        out[pos] = static_cast<int32_t>(k + 2);
        out[pos + 1] = copy.var;
        out[pos + 2] = copy.low;
        out[pos + 3] = copy.high;
        pos += 4;
        --top;
    }
    bufferPos = pos;
}

int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars) {
    const int32_t end = firstVar + numVars;
    const bool untested = markReachable(node, [&](const BddNode& r) {
        if (r.var >= end) return Visit::skipChildren;
        return r.var >= firstVar ? Visit::stop : Visit::descend;
    });
    return untested ? 0 : 1;
}
