// The workloads measured against the reference engine, written against the engine functions
// directly (no JNI in the way), so that a profiler sees the engine alone. Each keeps the reference
// discipline of a Java caller: every result it no longer needs is released through the queue.
#pragma once

#include "BenchJvm.h"
#include "engine/Marking.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"
#include "ops/TupleWalks.h"

#include <cstdint>
#include <vector>

// A small deterministic generator (splitmix64), the same on every platform.
struct BenchRandom {
    uint64_t state;
    explicit BenchRandom(uint64_t seed) : state(seed) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t below(int32_t bound) { return static_cast<int32_t>(next() % static_cast<uint64_t>(bound)); }
};

// dst := op(dst, src), releasing the old dst (dst owns one reference).
template <Node (*op)(Node, Node)>
inline void apply(Node& dst, Node src) {
    const Node r = op(dst, src);
    release(dst);
    dst = r;
}

// The N-queens constraint over N*N variables (cell (i, j) is variable i*N + j), built as in the
// classic example: every row holds a queen, and a queen excludes the rest of its row, column and
// diagonals. Returns the set of solutions with one reference.
inline Node queens(int n) {
    std::vector<Node> x(static_cast<size_t>(n * n)), nx(static_cast<size_t>(n * n));
    for (int v = 0; v < n * n; ++v) {
        x[v] = makeSingleTupleUnary(v, 1, 1);
        nx[v] = makeSingleTupleUnary(v, 1, 0);
    }
    incRefCount(manager.one);
    Node queen = manager.one;
    for (int i = 0; i < n; ++i) {
        Node e = manager.zero;
        for (int j = 0; j < n; ++j) apply<unite>(e, x[i * n + j]);
        apply<intersect>(queen, e);
        release(e);
    }
    const auto excludes = [&](Node& acc, int i, int j, int k, int l) {
        const Node imp = unite(nx[i * n + j], nx[k * n + l]);
        apply<intersect>(acc, imp);
        release(imp);
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            Node a = manager.one, b = manager.one, c = manager.one, d = manager.one;
            incRefCount(manager.one), incRefCount(manager.one), incRefCount(manager.one), incRefCount(manager.one);
            for (int l = 0; l < n; ++l)
                if (l != j) excludes(a, i, j, i, l);
            for (int k = 0; k < n; ++k)
                if (k != i) excludes(b, i, j, k, j);
            for (int k = 0; k < n; ++k) {
                const int ll = k - i + j;
                if (k != i && ll >= 0 && ll < n) excludes(c, i, j, k, ll);
            }
            for (int k = 0; k < n; ++k) {
                const int ll = i + j - k;
                if (k != i && ll >= 0 && ll < n) excludes(d, i, j, k, ll);
            }
            apply<intersect>(c, d);
            apply<intersect>(b, c);
            apply<intersect>(a, b);
            apply<intersect>(queen, a);
            release(a), release(b), release(c), release(d);
        }
    }
    for (int v = 0; v < n * n; ++v) release(x[v]), release(nx[v]);
    return queen;
}

// A relation of `pairs` random pairs over two fields of `bits` bits (x at 0, y at bits), built
// with addTuple. Returns it with one reference.
inline Node randomRelation(int bits, int64_t pairs, uint64_t seed) {
    const int32_t first[2] = {0, bits};
    const int32_t width[2] = {bits, bits};
    BenchRandom random(seed);
    Node d = manager.zero;
    bool owned = false;
    for (int64_t p = 0; p < pairs; ++p) {
        const int32_t values[2] = {random.below(1 << bits), random.below(1 << bits)};
        const Node next = addTuple(d, 2, first, width, values);
        if (owned) release(d);
        d = next;
        owned = true;
    }
    return d;
}

// Transitive closure of `direct` (x, y over `bits` bits each): T := D, then
// T := T ∪ rename(relprod(T(x,y), D(y,z)) over y, z→y) to the fixpoint. Returns T with one
// reference and the number of rounds in `rounds`.
inline Node transitiveClosure(Node direct, int bits, int& rounds) {
    const int k = bits;
    const Node shifted = renameVars(direct, 0, 2 * k, k);  // D(y, z)
    incRefCount(direct);
    Node t = direct;
    rounds = 0;
    for (;;) {
        ++rounds;
        const Node joined = relprod(t, shifted, k, k);
        const Node step = renameVars(joined, 2 * k, k, -k);
        release(joined);
        const Node next = unite(t, step);
        release(step);
        if (next == t) {
            release(next);
            break;
        }
        release(t);
        t = next;
    }
    release(shifted);
    return t;
}
