// Workload drivers: N-queens, transitive closure on a random graph, a million tuple insertions and
// a stream round trip, each on a fresh engine with the store bounds of a typical Java caller, and
// one circuit of the benchmark (a netlist file written by bench/java/.../Circuits.java, named by
// BENCH_NETLIST) with the bounds of `make bench`.
// Meant for profiling (perf record, callgrind) as much as for timing:
//   engine_workloads --benchmark_filter=Queens/12
//   BENCH_NETLIST=random-3000.net engine_workloads --benchmark_filter=Circuit
#include "Workloads.h"

#include "engine/OpCache.h"
#include "ops/SetOps.h"
#include "serial/DiagramStream.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int32_t maxNodes = 1 << 24;
constexpr int32_t maxCache = 1 << 22;
constexpr int32_t gcRate = 10000;

void freshEngine() { startBenchEngine(maxNodes, maxCache, gcRate, 1); }

int32_t countQueens(Node q, int n) {
    std::vector<int32_t> first(static_cast<size_t>(n * n)), width(first.size(), 1);
    for (int v = 0; v < n * n; ++v) first[v] = v;
    return getNumOfTuples(q, n * n, first.data(), width.data());
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
    state.counters["alive"] = manager.nodeCacheOccupied;
    state.counters["records"] = manager.totalNodesAllocated;
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

// Every gate of the netlist in BENCH_NETLIST built in order, as the benchmark's circuit workload
// does from Java: complemented inputs through `complement`, each diagram released after its last
// reader, the outputs held until the end.
void Circuit(benchmark::State& state) {
    const char* path = std::getenv("BENCH_NETLIST");
    std::FILE* f = path != nullptr ? std::fopen(path, "r") : nullptr;
    int inputs = 0, gates = 0, outputs = 0;
    if (f == nullptr || std::fscanf(f, "circuit %*s %d %d %d", &inputs, &gates, &outputs) != 3) {
        if (f != nullptr) std::fclose(f);
        state.SkipWithError("BENCH_NETLIST names no netlist");
        return;
    }
    std::vector<int> fanin(2 * static_cast<size_t>(gates)), out(static_cast<size_t>(outputs));
    bool complete = true;
    for (int& x : fanin) complete = complete && std::fscanf(f, "%d", &x) == 1;
    for (int& x : out) complete = complete && std::fscanf(f, "%d", &x) == 1;
    std::fclose(f);
    if (!complete) {
        state.SkipWithError("truncated netlist");
        return;
    }
    const size_t signals = static_cast<size_t>(inputs) + 1 + static_cast<size_t>(gates);
    std::vector<int> lastReader(signals, -1);
    for (size_t k = 0; k < fanin.size(); ++k) lastReader[static_cast<size_t>(fanin[k] >> 1)] = static_cast<int>(k / 2);
    for (int lit : out) lastReader[static_cast<size_t>(lit >> 1)] = gates;
    for (auto _ : state) {
        state.PauseTiming();
        startBenchEngine(1 << 22, 1 << 20, 1 << 22, 1);
        std::vector<Node> diagram(signals, 0);
        for (int i = 1; i <= inputs; ++i) diagram[static_cast<size_t>(i)] = makeSingleTupleUnary(i - 1, 1, 1);
        state.ResumeTiming();
        // The slowest single operation, and whether the unique table or the cache grew during it.
        double slowest = 0;
        int slowestGrew = 0;
        const auto timed = [&](auto op) {
            const int32_t buckets = manager.nodeCacheLength, slots = manager.opCacheLength;
            const auto t0 = std::chrono::steady_clock::now();
            const Node r = op();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (ms > slowest) {
                slowest = ms;
                slowestGrew = (manager.nodeCacheLength != buckets ? 1 : 0) + (manager.opCacheLength != slots ? 2 : 0);
            }
            return r;
        };
        const auto operand = [&](int lit) {
            const Node n = diagram[static_cast<size_t>(lit >> 1)];
            return (lit & 1) != 0 ? timed([n] { return complement(n); }) : n;
        };
        for (int k = 0; k < gates; ++k) {
            const int la = fanin[2 * static_cast<size_t>(k)], lb = fanin[2 * static_cast<size_t>(k) + 1];
            const Node a = operand(la), b = operand(lb);
            diagram[static_cast<size_t>(inputs + 1 + k)] = timed([a, b] { return intersect(a, b); });
            if ((la & 1) != 0) release(a);
            if ((lb & 1) != 0) release(b);
            if (lastReader[static_cast<size_t>(la >> 1)] == k) release(diagram[static_cast<size_t>(la >> 1)]);
            if (lastReader[static_cast<size_t>(lb >> 1)] == k && (lb >> 1) != (la >> 1))
                release(diagram[static_cast<size_t>(lb >> 1)]);
        }
        state.PauseTiming();
        state.counters["slowest_ms"] = slowest;
        state.counters["slowest_grew"] = slowestGrew;  // 1: the unique table, 2: the cache, 3: both
        state.counters["linked"] = manager.nodeCacheOccupied;
        state.counters["buckets"] = manager.nodeCacheLength;
        state.ResumeTiming();
    }
}
BENCHMARK(Circuit)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startBenchJvm()) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
