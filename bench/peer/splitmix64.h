/* The input generator of every workload, the same sequence as SplitMix64.java computes. */
#ifndef BENCH_SPLITMIX64_H
#define BENCH_SPLITMIX64_H

#include <stdint.h>

static inline uint64_t splitmix64Next(uint64_t* state) {
    uint64_t z = (*state += UINT64_C(0x9E3779B97F4A7C15));
    z = (z ^ (z >> 30)) * UINT64_C(0xBF58476D1CE4E5B9);
    z = (z ^ (z >> 27)) * UINT64_C(0x94D049BB133111EB);
    return z ^ (z >> 31);
}

#endif
