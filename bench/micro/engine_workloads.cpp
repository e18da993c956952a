// Workload drivers: N-queens, transitive closure on a random graph, a million tuple insertions and
// a stream round trip, each on a fresh engine with the store bounds of a typical Java caller.
// Meant for profiling (perf record, callgrind) as much as for timing:
//   engine_workloads --benchmark_filter=Queens/12
#include "Workloads.h"

#include "engine/OpCache.h"
#include "ops/SetOps.h"
#include "serial/DiagramStream.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr int32_t maxNodes = 1 << 24;
constexpr int32_t maxCache = 1 << 22;
constexpr int32_t gcRate = 10000;

void freshEngine() { startBenchEngine(maxNodes, maxCache, gcRate, 1); }

int32_t countQueens(Node q, int n) {
    std::vector<int32_t> first(static_cast<size_t>(n * n)), width(first.size(), 1), bound(first.size(), 2);
    for (int v = 0; v < n * n; ++v) first[v] = v;
    return getNumOfTuples(q, n * n, first.data(), width.data(), bound.data());
}

void Queens(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    int32_t solutions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        freshEngine();
        state.ResumeTiming();
        const Node q = queens(n);
        state.PauseTiming();
        solutions = countQueens(q, n);
        state.counters["nodes"] = static_cast<double>(nodeCount(q));
        release(q);
        state.ResumeTiming();
    }
    state.counters["solutions"] = solutions;
    state.counters["alive"] = nodeCacheOccupied;
    state.counters["records"] = totalNodesAllocated;
}
BENCHMARK(Queens)->Arg(8)->Arg(11)->Arg(12)->Unit(benchmark::kMillisecond)->Iterations(1);

// range(0): bits per field (the graph has 2^bits vertices); range(1): edges per vertex.
void Closure(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const int64_t edges = (int64_t{1} << bits) * state.range(1);
    int rounds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        freshEngine();
        const Node direct = randomRelation(bits, edges, 12345);
        state.ResumeTiming();
        const Node t = transitiveClosure(direct, bits, rounds);
        state.PauseTiming();
        state.counters["nodes"] = static_cast<double>(nodeCount(t));
        release(t);
        release(direct);
        state.ResumeTiming();
    }
    state.counters["rounds"] = rounds;
}
BENCHMARK(Closure)->Args({12, 1})->Args({12, 2})->Unit(benchmark::kMillisecond)->Iterations(1);

// range(0) random tuples of two 20-bit fields, inserted one at a time.
void AddTuples(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        freshEngine();
        state.ResumeTiming();
        const Node d = randomRelation(20, state.range(0), 777);
        state.PauseTiming();
        state.counters["nodes"] = static_cast<double>(nodeCount(d));
        release(d);
        state.ResumeTiming();
    }
    state.counters["insertions_per_s"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(AddTuples)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Writing and reading the int stream of a relation of range(0) random tuples (20-bit fields).
// The read goes into a fresh store, so every node is created.
void StreamWrite(benchmark::State& state) {
    freshEngine();
    const Node d = randomRelation(20, state.range(0), 99);
    int64_t bytes = 0;
    for (auto _ : state) {
        const StreamInts out = encodeDiagramStream(std::span<const Node>(&d, 1), {nullptr, nullptr, 1.0});
        clearOpCache();
        bytes += int64_t{out.length} * 4;
        benchmark::DoNotOptimize(out.ints.get());
    }
    state.SetBytesProcessed(bytes);
    release(d);
}
BENCHMARK(StreamWrite)->Arg(1000000)->Unit(benchmark::kMillisecond);

void StreamRead(benchmark::State& state) {
    freshEngine();
    const Node d = randomRelation(20, state.range(0), 99);
    StreamInts out = encodeDiagramStream(std::span<const Node>(&d, 1), {nullptr, nullptr, 1.0});
    int64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        freshEngine();
        state.ResumeTiming();
        const StreamRoots roots = readDiagramStream(std::span<const int32_t>(out.ints.get(), out.length),
                                                    {nullptr, nullptr, 1.0});
        bytes += int64_t{out.length} * 4;
        benchmark::DoNotOptimize(roots.nodes.get());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(StreamRead)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startBenchJvm()) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
