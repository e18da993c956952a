// The diagram stream: a group of diagrams written as one array of ints, and read back into the
// store. The JNI layer (jni/HostStreams.cpp) moves the array to and from the Java object streams.
//
// Format. With R roots and N node numbers in use, the array holds 4N + R - 6 ints:
//   [0]               R, the number of roots (0 or more)
//   [1]               N: 2 for the terminals plus one per node record (so at least 2)
//   [2 + 4k .. 5 + 4k] record k = 0 .. N-3: number, var, lowNumber, highNumber
//   [4N - 6 + j]      the number of root j = 0 .. R-1, in the order the roots were given
// Number 0 is `zero`, 1 is `one`, and 2 .. N-1 name the inner nodes reachable from the roots.
// Numbers are handed out in pre-order of first visit (low side first, roots in order) and records
// are written in post-order (children first, low side first), so the first inner root has number
// 2 and its record follows every record below it; the new records of later roots come after it.
// `var` is the node's 16-bit variable sign-extended. Shared parts are written once; a root given
// twice stands twice among the root numbers.
//
// Rules of a stream. Each number 2 .. N-1 is the number of exactly one record; a record's children
// are 0, 1 or earlier records and differ from each other; a record's variable lies in 0 .. 32765
// and below the variables of its inner children; every record is reachable from a root; each root
// number is in 0 .. N-1. The writer obeys them by construction. The reader checks all of them
// before it builds anything and refuses a stream that breaks one with "Assert failed: Malformed
// diagram stream"; the JNI layer refuses an object that is not an int array the same way.
//
// Writing numbers the nodes in their `id` fields, where they stay (the stamps are not restored),
// so `writeDiagramStream` empties the operation cache on every exit. Marks are clear again on
// every exit.
//
// Reading builds through make-node, so a node already in the store is found and shared, and while
// the originals live the same handles come back without a node being created. While it builds,
// the reader's table holds one reference per record; afterwards it gives them back under the queue
// lock in number order, so each node keeps, beyond what it had before, one reference per parent
// the read created and one per occurrence among the roots (the caller's, one per array entry).
// A cancelled, refused or failed read gives back every table reference it took, in the order the
// records were read, and leaves nothing behind.
//
// Working state. The writer keeps what one write needs (the next node number `serializedNodeID`,
// the buffer `dataBuffer` and its position `bufferPos`) in an object of its own that its walks
// share by reference, and the reader its node table `serializedNodes` likewise; nothing of either
// outlives the call.
//
// Progress. With a progress sink, the writer asks it before each root in each of its two passes
// (done 0 .. 2R-1, total 2R / progressShare); the reader does so before record i = 2 .. N-1 when i
// is a multiple of N / 30 + 1 (total N / progressShare), at most 29 times. A total saturates into
// 0 .. 2147483647: a share of 0 or less, or NaN, never gives undefined behaviour. A sink that says
// stop ends the operation cleanly: the writer hands back no ints, the reader no roots (and gives
// back every reference it took).
#pragma once

#include "engine/BDDNativeImpl.h"
#include "serial/StreamBuffer.h"

#include <memory>
#include <span>

// Progress reports and cancellation of one stream operation.
struct StreamProgress {
    // One cancellation test and one report; false stops the operation. Null: no reports.
    bool (*reportAndGoOn)(void* context, int32_t done, int32_t total);
    void* context;
    double progressShare;
};

// units / progressShare truncated toward zero and saturated into 0 .. 2147483647 (NaN gives 0).
int32_t progressTotal(double units, double progressShare);

// One cancellation test and one report; true at once without a sink.
inline bool goOn(const StreamProgress& progress, int32_t done, int32_t total) {
    return progress.reportAndGoOn == nullptr || progress.reportAndGoOn(progress.context, done, total);
}

// The ints of a written stream; `ints` holds nothing when the operation was stopped.
struct StreamInts {
    StreamBuffer<int32_t> ints;
    int32_t length = 0;
};

// Numbers the nodes reachable from `roots` (checked live handles) and emits the stream into a fresh
// buffer. Leaves all marks clear on every exit; the caller empties the operation cache.
StreamInts encodeDiagramStream(std::span<const Node> roots, const StreamProgress& progress);
// The same, emptying the operation cache on every exit (numbering rewrote the stamps).
StreamInts writeDiagramStream(std::span<const Node> roots, const StreamProgress& progress);

// Refuses a stream that breaks a rule above with "Assert failed: Malformed diagram stream".
void checkDiagramStream(std::span<const int32_t> ints);

// The roots of a read stream, each with one reference the caller owns. `complete` is false when
// the read was stopped (no reference is then held), and when the queue lock could not be had for
// the final releases (they are given up, like all guarded work then).
struct StreamRoots {
    std::unique_ptr<Node[]> nodes;
    int32_t count = 0;
    bool complete = false;
};

// Checks `ints` and rebuilds its diagrams in the store.
StreamRoots readDiagramStream(std::span<const int32_t> ints, const StreamProgress& progress);
