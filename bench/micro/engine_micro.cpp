// Microbenchmarks of the engine's hot paths: make-node hit and miss, one doubling of the unique
// table, operation-cache hit and miss, union and intersection of random sets, tuple counting, and
// the cost of a JNI call into a trivial native next to a call into a trivial Java method.
#include "Workloads.h"

#include "engine/OpCache.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int32_t maxNodes = 1 << 24;
constexpr int32_t maxCache = 1 << 22;

// `count` distinct inner nodes: a chain over variables 1 .. count (node i tests variable
// count + 1 - i, its high child is node i - 1), every one with a reference held.
std::vector<Node> chainPool(int32_t count) {
    std::vector<Node> pool;
    Node prev = manager.one;
    for (int32_t i = 0; i < count; ++i) {
        incRefCount(prev);
        prev = cacheNode(count - i, manager.zero, prev);
        pool.push_back(prev);
    }
    return pool;
}

// `count` distinct nodes on variable 0, each over two distinct nodes of a chain of 2048, every one
// with a reference held.
std::vector<Node> pairPool(int32_t count) {
    const std::vector<Node> chain = chainPool(2048);  // 2096128 pairs
    std::vector<Node> pool;
    for (size_t i = 0; i < chain.size() && pool.size() < static_cast<size_t>(count); ++i)
        for (size_t j = i + 1; j < chain.size() && pool.size() < static_cast<size_t>(count); ++j) {
            incRefCount(chain[i]);
            incRefCount(chain[j]);
            pool.push_back(cacheNode(0, chain[i], chain[j]));
        }
    return pool;
}

// Make-node finding an existing node; range(0) nodes are hit in a random order, so a large pool
// shows the cost of chain walks that miss the processor caches.
void MakeNodeHit(benchmark::State& state) {
    startBenchEngine(maxNodes, maxCache, 0, 0);
    const auto size = static_cast<int32_t>(state.range(0));
    const std::vector<Node> pool = pairPool(size);
    std::vector<int32_t> order(pool.size());
    BenchRandom random(1);
    for (auto& o : order) o = random.below(size);
    size_t k = 0;
    for (auto _ : state) {
        const BddNode& r = nodeOf(pool[order[k]]);
        incRefCount(r.low);
        incRefCount(r.high);
        const Node n = cacheNode(r.var, r.low, r.high);
        dropRefPlain(n);
        benchmark::DoNotOptimize(n);
        if (++k == order.size()) k = 0;
    }
}
BENCHMARK(MakeNodeHit)->Arg(1 << 10)->Arg(1 << 20);

// Make-node creating a node each time (collection off, so no record is freed): variable 0 over
// two distinct nodes of a pool of 4096, so up to 16 million distinct triples. Includes the
// doublings of the table as it fills.
void MakeNodeMiss(benchmark::State& state) {
    startBenchEngine(maxNodes, maxCache, 0, 0);
    const std::vector<Node> pool = chainPool(4096);
    size_t i = 0, j = 1;
    for (auto _ : state) {
        const Node n = cacheNode(0, pool[i], pool[j]);
        benchmark::DoNotOptimize(n);
        if (++j == pool.size()) {
            j = 0;
            ++i;
        }
        if (j == i) ++j;
    }
    state.counters["alive"] = manager.nodeCacheOccupied;
}
BENCHMARK(MakeNodeMiss)->Iterations(4000000);

// One doubling of the unique table, which make-node does inside whatever operation passes the
// threshold: range(0) live nodes (variable 0 over pairs of a chain of 4096, collection off) in a
// table held at 2^21 buckets by its bound, relinked into 2^22.
void RehashNodeCache(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        startBenchEngine(1 << 21, maxCache, 0, 0);
        const std::vector<Node> pool = chainPool(4096);
        for (int64_t k = 0; k < state.range(0); ++k) {
            const Node low = pool[static_cast<size_t>(k % 4096)];
            const Node high = pool[static_cast<size_t>(k / 4096 + 1 + k % 4096) % 4096];
            incRefCount(low);
            incRefCount(high);
            cacheNode(0, low, high);
        }
        state.ResumeTiming();
        rehashNodeCache();
    }
    state.counters["buckets"] = manager.nodeCacheLength;
    state.counters["linked"] = manager.nodeCacheOccupied;
}
BENCHMARK(RehashNodeCache)->Arg(6000000)->Unit(benchmark::kMillisecond)->Iterations(3);

// A union whose result the operation cache holds: hash, lookup, one count raise. range(0)
// distinct pairs are looked up in turn (their entries stay in the cache).
void OpCacheHit(benchmark::State& state) {
    startBenchEngine(maxNodes, maxCache, 0, 0);
    const std::vector<Node> pool = chainPool(2048);
    BenchRandom random(2);
    std::vector<std::pair<Node, Node>> pairs(static_cast<size_t>(state.range(0)));
    for (auto& p : pairs) {
        p = {pool[random.below(2048)], pool[random.below(2048)]};
        dropRefPlain(unite(p.first, p.second));  // fills the cache
    }
    size_t k = 0;
    for (auto _ : state) {
        const auto [a, b] = pairs[k];
        const Node hit = searchInOpCache(opUnite, opHashCode1(opUnite, a, b));
        benchmark::DoNotOptimize(hit);
        if (++k == pairs.size()) k = 0;
    }
}
BENCHMARK(OpCacheHit)->Arg(1 << 8)->Arg(1 << 18);

// A lookup that misses and the store that follows, on random keys over the whole cache.
void OpCacheMiss(benchmark::State& state) {
    startBenchEngine(maxNodes, 1 << 20, 0, 0);
    const std::vector<Node> pool = chainPool(4096);
    // Grow the cache to its bound first, so that the loop measures lookups and stores alone.
    BenchRandom random(3);
    const OpTable& t = manager.opTables[opUnite];
    while (t.threshold != neverGrows || t.occupied < (int32_t{4} << t.lineBits) / 2) {
        const Node a = pool[random.below(4096)], b = pool[random.below(4096)];
        const auto key = opHashCode1(opUnite, a, b);
        if (searchInOpCache(opUnite, key) == 0) putInOpCache(opUnite, key, a);
    }
    for (auto _ : state) {
        const Node a = pool[random.below(4096)], b = pool[random.below(4096)];
        const auto key = opHashCode1(opUnite, a, b);
        Node r = searchInOpCache(opUnite, key);
        if (r == 0) r = putInOpCache(opUnite, key, b);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(OpCacheMiss);

// Union or intersection of two sets of range(0) random tuples (two 20-bit fields), computed
// afresh each time (the cache is emptied first).
template <Node (*op)(Node, Node)>
void SetOp(benchmark::State& state) {
    startBenchEngine(maxNodes, maxCache, 10000, 1);
    const Node a = randomRelation(20, state.range(0), 10);
    const Node b = randomRelation(20, state.range(0), 11);
    for (auto _ : state) {
        state.PauseTiming();
        clearOpCache();
        state.ResumeTiming();
        const Node r = op(a, b);
        release(r);
    }
    release(a);
    release(b);
}
BENCHMARK(SetOp<unite>)->Name("Unite")->Arg(1 << 10)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);
BENCHMARK(SetOp<intersect>)->Name("Intersect")->Arg(1 << 10)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);

// Tuple counting of a set of range(0) random tuples, every count entry computed afresh.
void CountTuples(benchmark::State& state) {
    startBenchEngine(maxNodes, maxCache, 10000, 1);
    const Node a = randomRelation(20, state.range(0), 12);
    const int32_t first[2] = {0, 20}, width[2] = {20, 20};
    for (auto _ : state) {
        state.PauseTiming();
        clearOpCache();
        state.ResumeTiming();
        benchmark::DoNotOptimize(getNumOfTuples(a, 2, first, width));
    }
    release(a);
}
BENCHMARK(CountTuples)->Arg(1 << 10)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);

// ---- JNI call cost ------------------------------------------------------------------------------
// The natives run in the library that the virtual machine loaded, not in the engine linked into
// this binary, so that library's engine is started through its own doInit.
struct JniCalls {
    jclass manager = nullptr;
    jclass calls = nullptr;
    jmethodID getOne = nullptr;
    jmethodID plain = nullptr;
    jmethodID getOneLoop = nullptr;
    jmethodID plainLoop = nullptr;
};

const JniCalls& jniCalls() {
    static JniCalls c = [] {
        JniCalls j;
        JNIEnv* env = benchEnv;
        j.manager = env->FindClass("com/zvk/quarnelbrisk/bdd/nativeproxy/BDDManagerNativeProxy");
        j.calls = env->FindClass("com/zvk/quarnelbrisk/benchmicro/BenchCalls");
        if (j.manager == nullptr || j.calls == nullptr) {
            env->ExceptionDescribe();
            std::abort();
        }
        const jmethodID doInit = env->GetStaticMethodID(j.manager, "doInit", "(IIIZ)V");
        env->CallStaticVoidMethod(j.manager, doInit, maxNodes, maxCache, 10000, JNI_TRUE);
        j.getOne = env->GetStaticMethodID(j.manager, "doGetOne", "()I");
        j.plain = env->GetStaticMethodID(j.calls, "plain", "()I");
        j.getOneLoop = env->GetStaticMethodID(j.calls, "getOneLoop", "(I)I");
        j.plainLoop = env->GetStaticMethodID(j.calls, "plainLoop", "(I)I");
        if (env->ExceptionCheck()) {
            env->ExceptionDescribe();
            std::abort();
        }
        return j;
    }();
    return c;
}

// C++ -> Java -> native doGetOne, against C++ -> Java plain(): the difference is the native frame.
void JniCallGetOne(benchmark::State& state) {
    const JniCalls& c = jniCalls();
    for (auto _ : state) benchmark::DoNotOptimize(benchEnv->CallStaticIntMethod(c.manager, c.getOne));
}
BENCHMARK(JniCallGetOne);

void JavaCallPlain(benchmark::State& state) {
    const JniCalls& c = jniCalls();
    for (auto _ : state) benchmark::DoNotOptimize(benchEnv->CallStaticIntMethod(c.calls, c.plain));
}
BENCHMARK(JavaCallPlain);

// A Java loop of range(0) calls of doGetOne, and of a trivial Java method: per call, the cost of
// a native call from compiled Java code (once the loop is compiled).
void JavaLoopGetOne(benchmark::State& state) {
    const JniCalls& c = jniCalls();
    const auto n = static_cast<jint>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(benchEnv->CallStaticIntMethod(c.calls, c.getOneLoop, n));
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(JavaLoopGetOne)->Arg(100000);

void JavaLoopPlain(benchmark::State& state) {
    const JniCalls& c = jniCalls();
    const auto n = static_cast<jint>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(benchEnv->CallStaticIntMethod(c.calls, c.plainLoop, n));
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(JavaLoopPlain)->Arg(100000);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startBenchJvm()) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
