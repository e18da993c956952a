#include "serial/Marking.h"

namespace {

// Two entries per variable on a path, with room to spare.
constexpr int walkStackSize = 2 * (oneVar + 1) + 16;
Node walkStack[walkStackSize];
uint8_t walkState[walkStackSize];

[[noreturn]] void walkTooDeep() { throwException("Assert failed: Variable order violated", nullptr); }

inline void push(int& top, Node n) {
    if (top == walkStackSize) [[unlikely]] walkTooDeep();
    walkStack[top++] = n;
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
    int top = 0;
    push(top, node);
    while (top > 0) {
        BddNode& r = nodeOf(walkStack[--top]);
        if (isMarked(r)) continue;
        setMark(r);
        ++count;
        push(top, r.high);
        push(top, r.low);
    }
    return count;
}

void evaluateNodeID(Node node) {
    int top = 0;
    push(top, node);
    while (top > 0) {
        const Node n = walkStack[--top];
        BddNode& r = nodeOf(n);
        if (isMarked(r) || isTerminal(n)) continue;
        setMark(r);
        r.id = static_cast<uint32_t>(serializedNodeID);
        ++serializedNodeID;
        push(top, r.high);
        push(top, r.low);
    }
}

void serializeNode(Node node) {
    // Each entry walks through three states: entered (mark, then descend low), low done (descend
    // high), both done (emit the record).
    int top = 0;
    push(top, node);
    walkState[0] = 0;
    while (top > 0) {
        const Node n = walkStack[top - 1];
        BddNode& r = nodeOf(n);
        uint8_t& state = walkState[top - 1];
        if (state == 0) {
            if (isMarked(r) || isTerminal(n)) {
                --top;
                continue;
            }
            setMark(r);
            state = 1;
            push(top, r.low);
            walkState[top - 1] = 0;
        } else if (state == 1) {
            state = 2;
            push(top, r.high);
            walkState[top - 1] = 0;
        } else {
            dataBuffer[bufferPos++] = static_cast<int32_t>(r.id);
            dataBuffer[bufferPos++] = r.var;
            dataBuffer[bufferPos++] = static_cast<int32_t>(nodeOf(r.low).id);
            dataBuffer[bufferPos++] = static_cast<int32_t>(nodeOf(r.high).id);
            --top;
        }
    }
}

int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars) {
    const int32_t end = firstVar + numVars;
    int top = 0;
    push(top, node);
    while (top > 0) {
        BddNode& r = nodeOf(walkStack[--top]);
        if (isMarked(r)) continue;
        setMark(r);
        if (r.var >= end) continue;
        if (r.var >= firstVar) return 1;
        push(top, r.high);
        push(top, r.low);
    }
    return 0;
}
