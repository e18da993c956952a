package com.zvk.quarnelbrisk.bench;

/**
 * The input generator of every workload: a 64-bit state advanced by a fixed odd constant and mixed.
 * The peer (bench/peer/splitmix64.h) computes the very same sequence, so both sides see identical
 * graphs and tuples for the same seed.
 */
final class SplitMix64 {
    private long state;

    SplitMix64(long seed) {
        this.state = seed;
    }

    long next() {
        state += 0x9E3779B97F4A7C15L;
        long z = state;
        z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
        z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
        return z ^ (z >>> 31);
    }
}
