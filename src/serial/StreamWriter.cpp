// The writer of the diagram stream: pre-order numbering, post-order emission, and the two passes
// over the roots.
#include "engine/Marking.h"
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "serial/DiagramStream.h"

#include <algorithm>
#include <cmath>

namespace {

// The longest int array the virtual machine is sure to create.
constexpr int64_t maxStreamLength = 0x7FFFFFFF - 8;

// The writer's copy of a numbered node, kept at index number - 2: its handle, its variable and the
// numbers of its children. Numbering fills it while it reads the node anyway, so that clearing the
// marks and emitting the records need not chase the store's pointers again: the marks are cleared
// along the copies (every marked node has one, and only those), and emission walks the copies in
// exactly the order in which it would walk the store.
struct NumberedNode {
    Node handle;
    int32_t var;
    int32_t low;
    int32_t high;
};

// What one write keeps while it numbers and emits.
struct StreamWriter {
    int32_t serializedNodeID;  // the next node number; after numbering, the count of numbers in use
    NumberedNode* numbered;    // room for `capacity` copies, of which the first `ready` are faulted in
    int64_t ready;
    int64_t capacity;
    int32_t* dataBuffer;  // the ints being written
    int32_t bufferPos;    // the next int to write
};

// Faults in the next stretch of the copies' pages, so that numbering does not take one page fault
// every 256 nodes. A node beyond the capacity raises "Out of memory".
void prepareNumbered(StreamWriter& w) {
    if (w.ready >= w.capacity) throwOutOfMemory();
    constexpr int64_t stretch = int64_t{1} << 16;
    const int64_t more = std::min(w.capacity - w.ready, stretch);
    prefaultBytes(w.numbered + w.ready, static_cast<size_t>(more) * sizeof(NumberedNode));
    w.ready += more;
}

// A node to number, and the field of its parent's copy that receives its number.
struct NumberingStep {
    Node node;
    int32_t* slot;
};
WalkStack<NumberingStep> numberingStack;

// Pre-order numbering: gives each unmarked inner node reachable from `node` the number
// `serializedNodeID` (then increments it), in the order of first visit, marks it, and records its
// copy. Terminal children are not pushed: their numbers are 0 and 1, and their marks would end the
// visit at once.
void evaluateNodeID(Node node, StreamWriter& w) {
    int32_t rootNumber;  // the root's number goes nowhere
    int top = 0;
    numberingStack.push(top, {node, &rootNumber});
    while (top > 0) {
        const NumberingStep step = numberingStack.at[--top];
        BddNode& r = nodeOf(step.node);
        if (isMarked(r) || isTerminal(step.node)) {
            *step.slot = static_cast<int32_t>(r.id);
            continue;
        }
        const int32_t number = w.serializedNodeID;
        const int64_t k = int64_t{number} - 2;
        if (k >= w.ready) [[unlikely]] prepareNumbered(w);
        setMark(r);
        r.id = static_cast<uint32_t>(number);
        ++w.serializedNodeID;
        *step.slot = number;
        NumberedNode& copy = w.numbered[k];
        copy.handle = step.node;
        copy.var = r.var;
        const Node low = r.low;
        const Node high = r.high;
        if (isTerminal(high)) {
            copy.high = high == manager.zero ? 0 : 1;
        } else {
            __builtin_prefetch(&nodeOf(high));
            numberingStack.push(top, {high, &copy.high});
        }
        if (isTerminal(low))
            copy.low = low == manager.zero ? 0 : 1;
        else
            numberingStack.push(top, {low, &copy.low});
    }
}

// The nodes numbered so far, in their order. They are independent of each other, so many of them
// are fetched at once.
int64_t numberedCount(const StreamWriter& w) { return int64_t{w.serializedNodeID} - 2; }

template <typename Visit>
void forEachNumbered(const StreamWriter& w, Visit visit) {
    constexpr int64_t ahead = 16;
    const int64_t count = numberedCount(w);
    for (int64_t k = 0; k < count; ++k) {
        if (k + ahead < count) __builtin_prefetch(&nodeOf(w.numbered[k + ahead].handle), 1);
        visit(nodeOf(w.numbered[k].handle));
    }
}

// Clears the marks of the nodes numbered so far on every exit of the numbering pass.
struct UnmarkNumberedOnExit {
    const StreamWriter& w;
    explicit UnmarkNumberedOnExit(const StreamWriter& writer) : w(writer) {}
    UnmarkNumberedOnExit(const UnmarkNumberedOnExit&) = delete;
    UnmarkNumberedOnExit& operator=(const UnmarkNumberedOnExit&) = delete;
    ~UnmarkNumberedOnExit() {
        forEachNumbered(w, [](BddNode& r) { clearMark(r); });
    }
};

// Gives the numbered nodes fresh stamps, and the terminals theirs, once the write is over, on every
// exit: a stamp is handed out once and stamps only grow (the operation cache tells a reused record
// by its newer stamp), and the node numbers repeat stamps of other nodes.
struct RestampNumberedOnExit {
    const StreamWriter& w;
    explicit RestampNumberedOnExit(const StreamWriter& writer) : w(writer) {}
    RestampNumberedOnExit(const RestampNumberedOnExit&) = delete;
    RestampNumberedOnExit& operator=(const RestampNumberedOnExit&) = delete;
    ~RestampNumberedOnExit() {
        nodeOf(manager.zero).id = zeroStamp;
        nodeOf(manager.one).id = oneStamp;
        if (manager.curSerialID >= freedStamp - 1 - numberedCount(w)) {
            restampLiveNodes();
            return;
        }
        forEachNumbered(w, [](BddNode& r) { r.id = manager.curSerialID++; });
    }
};

// A copy to emit, and how far it is: entered (descend low), low done (descend high), both done
// (emit the record).
struct EmissionStep {
    uint32_t copy;
    uint8_t state;
};
WalkStack<EmissionStep> emissionStack;

// Post-order emission of four ints per numbered node reachable from the node with number `number`
// that has no record yet: number, var, low's number, high's number, appended at
// dataBuffer[bufferPos]. `emitted` (one flag per numbered node, index number - 2) stands in for the
// marks of the store's walk.
void serializeNode(int32_t number, StreamWriter& w, uint8_t* emitted) {
    int32_t* const out = w.dataBuffer;
    int32_t pos = w.bufferPos;
    int top = 0;
    const auto enter = [&](int32_t child) {
        if (child < 2 || emitted[child - 2] != 0) return false;
        emitted[child - 2] = 1;
        emissionStack.push(top, {static_cast<uint32_t>(child - 2), 0});
        return true;
    };
    enter(number);
    while (top > 0) {
        EmissionStep& step = emissionStack.at[top - 1];
        const NumberedNode& copy = w.numbered[step.copy];
        if (step.state == 0) {
            step.state = 1;
            if (enter(copy.low)) continue;
        }
        if (step.state == 1) {
            step.state = 2;
            if (enter(copy.high)) continue;
        }
        out[pos] = static_cast<int32_t>(step.copy + 2);
        out[pos + 1] = copy.var;
        out[pos + 2] = copy.low;
        out[pos + 3] = copy.high;
        pos += 4;
        --top;
    }
    w.bufferPos = pos;
}

}  // namespace

int32_t progressTotal(double units, double progressShare) {
    if (std::isnan(units) || std::isnan(progressShare) || progressShare < 0) return 0;
    if (progressShare == 0) return units > 0 ? 0x7FFFFFFF : 0;
    const double total = units / progressShare;
    if (!(total > 0)) return 0;
    if (total >= 2147483647.0) return 0x7FFFFFFF;
    return static_cast<int32_t>(total);
}

StreamInts encodeDiagramStream(std::span<const Node> roots, const StreamProgress& progress) {
    const auto rootCount = static_cast<int32_t>(roots.size());
    const int32_t total = progressTotal(2.0 * rootCount, progress.progressShare);
    // Every numbered node is a distinct inner node of the unique table, which bounds the count.
    const int64_t capacity = manager.nodeCacheOccupied;
    StreamBuffer<NumberedNode> copies(capacity, StreamBufferUse::upToBound);
    StreamWriter w{2, copies.get(), 0, capacity, nullptr, 0};
    const RestampNumberedOnExit restamp{w};
    nodeOf(manager.zero).id = 0;
    nodeOf(manager.one).id = 1;
    {
        const UnmarkNumberedOnExit unmark{w};
        for (int32_t i = 0; i < rootCount; ++i) {
            if (!goOn(progress, i, total)) return {};
            evaluateNodeID(roots[i], w);
        }
    }

    // Emission walks the copies and leaves the store's marks alone.
    const int64_t nodeCount = w.serializedNodeID;
    const int64_t room = 4 * nodeCount + rootCount + 2;
    if (room > maxStreamLength) throwOutOfMemory();
    StreamInts out{StreamBuffer<int32_t>(room, StreamBufferUse::filled), 0};
    StreamBuffer<uint8_t> emitted(nodeCount - 2, StreamBufferUse::filled);
    w.dataBuffer = out.ints.get();
    w.dataBuffer[w.bufferPos++] = rootCount;
    w.dataBuffer[w.bufferPos++] = static_cast<int32_t>(nodeCount);
    for (int32_t i = 0; i < rootCount; ++i) {
        if (!goOn(progress, rootCount + i, total)) return {};
        serializeNode(static_cast<int32_t>(nodeOf(roots[i]).id), w, emitted.get());
    }
    for (const Node r : roots) w.dataBuffer[w.bufferPos++] = static_cast<int32_t>(nodeOf(r).id);
    out.length = w.bufferPos;
    return out;
}

StreamInts writeDiagramStream(std::span<const Node> roots, const StreamProgress& progress) {
    struct EmptyCacheOnExit {
        ~EmptyCacheOnExit() { clearOpCache(); }
    } emptyCache;
    return encodeDiagramStream(roots, progress);
}
