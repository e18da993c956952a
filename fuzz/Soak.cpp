// The soak run: random operation programs (the interpreter and model of the fuzz target, see
// Programs.h) against one engine for a set time. Every program gives everything back; after each
// one the store must be drained back to zero live nodes (the interpreter checks it), and over the
// run the resident memory must level off.
//
// Usage: engine_soak [seconds] [seed]. Prints a line every five seconds: programs and operations
// per second, the resident memory now and at its peak, the "Alive nodes" of the statistics report
// after the last program's collection, and the node records allocated. Exits 1 when the resident
// memory of the last quarter of the run has grown beyond the level of the first quarter.
#include "FakeJni.h"
#include "Natives.h"
#include "Programs.h"
#include "engine/BDDNativeImpl.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

long residentKb() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : std::random_device{}();
    std::printf("soak: %.0f s of random programs, seed %llu\n", seconds, static_cast<unsigned long long>(seed));
    std::mt19937_64 rng(seed);

    fakejni::beginNativeCall();
    Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doInit(fakejni::env(), nullptr, 1 << 22, 1 << 20, 100,
                                                                          JNI_TRUE);
    fakejni::endNativeCall();
    if (fakejni::exceptionPending()) fakejni::finding("doInit failed");

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastReport = start;
    uint64_t programs = 0, operations = 0, programsAtReport = 0, operationsAtReport = 0;
    int32_t alive = 0, aliveMax = 0;
    long firstQuarterKb = 0, lastQuarterMaxKb = 0;
    std::vector<uint8_t> bytes;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= seconds) break;
        bytes.resize(40 + rng() % 360);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        const ProgramRun run = runProgram(bytes.data(), bytes.size(), false);
        ++programs;
        operations += run.operations;
        alive = run.aliveAfterCollection;
        aliveMax = std::max(aliveMax, alive);

        if (elapsed < seconds / 4) firstQuarterKb = std::max(firstQuarterKb, residentKb());
        if (elapsed >= seconds * 3 / 4) lastQuarterMaxKb = std::max(lastQuarterMaxKb, residentKb());
        const auto now = Clock::now();
        const double sinceReport = std::chrono::duration<double>(now - lastReport).count();
        if (sinceReport >= 5) {
            std::printf("%6.0f s  %7.0f programs/s  %8.0f ops/s  RSS %6ld KB (peak %6ld KB)  Alive nodes: %d (at most %d)"
                        "  records %d\n",
                        elapsed, (programs - programsAtReport) / sinceReport, (operations - operationsAtReport) / sinceReport,
                        residentKb(), peakKb(), alive, aliveMax, totalNodesAllocated);
            std::fflush(stdout);
            lastReport = now;
            programsAtReport = programs;
            operationsAtReport = operations;
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("done: %llu programs, %llu operations in %.0f s (%.0f ops/s); peak RSS %ld KB; Alive nodes after the last "
                "collection %d, at most %d; %d records\n",
                static_cast<unsigned long long>(programs), static_cast<unsigned long long>(operations), total,
                operations / total, peakKb(), alive, aliveMax, totalNodesAllocated);
    // The store's tables and records only grow to what the largest program needed; past the first
    // quarter the resident memory must stay within a small margin of that level.
    const long allowedKb = firstQuarterKb + std::max(8192L, firstQuarterKb / 10);
    if (lastQuarterMaxKb > allowedKb) {
        std::printf("FAIL: resident memory kept climbing: %ld KB in the first quarter, %ld KB in the last\n", firstQuarterKb,
                    lastQuarterMaxKb);
        return 1;
    }
    std::printf("memory flat: %ld KB in the first quarter, at most %ld KB in the last\n", firstQuarterKb, lastQuarterMaxKb);
    return 0;
}
