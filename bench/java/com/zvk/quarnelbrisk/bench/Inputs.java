package com.zvk.quarnelbrisk.bench;

import java.util.ArrayList;
import java.util.List;

/**
 * The inputs of the workloads, generated from fixed seeds. bench/peer/peer_bench.c generates the
 * same ones with the same rules; change both together.
 */
final class Inputs {
    static final long GRAPH_SEED = 0x6772617068L;  // "graph"
    static final long TUPLE_SEED = 0x7475706C65L;  // "tuple"
    static final int TUPLE_BITS = 20;

    private Inputs() {}

    /** Edges of the random directed graph on 2^bits nodes: 5 edges for every 4 nodes. */
    static int edgeCount(int bits) {
        return (1 << bits) / 4 * 5;
    }

    /** The edges of {@link #graph} as pairs (from, to), for the typed layer. */
    static List<int[]> edgePairs(int[][] edges) {
        List<int[]> pairs = new ArrayList<>(edges[0].length);
        for (int i = 0; i < edges[0].length; i++) {
            pairs.add(new int[] {edges[0][i], edges[1][i]});
        }
        return pairs;
    }

    /** Edge i goes from from[i] to to[i]; self-loops and repeated edges are kept. */
    static int[][] graph(int bits) {
        int e = edgeCount(bits);
        long mask = (1L << bits) - 1;
        int[] from = new int[e];
        int[] to = new int[e];
        SplitMix64 g = new SplitMix64(GRAPH_SEED);
        for (int i = 0; i < e; i++) {
            long r = g.next();
            from[i] = (int) (r & mask);
            to[i] = (int) ((r >>> 32) & mask);
        }
        return new int[][] {from, to};
    }

    /** Tuple i is (x[i], y[i]), two fields of TUPLE_BITS bits; repeats are kept. */
    static int[][] tuples(int count) {
        long mask = (1L << TUPLE_BITS) - 1;
        int[] x = new int[count];
        int[] y = new int[count];
        SplitMix64 g = new SplitMix64(TUPLE_SEED);
        for (int i = 0; i < count; i++) {
            long r = g.next();
            x[i] = (int) (r & mask);
            y[i] = (int) ((r >>> TUPLE_BITS) & mask);
        }
        return new int[][] {x, y};
    }

    /** Pairs (u, v) with a path of one edge or more from u to v, by a breadth-first search from every node. */
    static long reachablePairs(int bits, int[][] edges) {
        int n = 1 << bits;
        int[] outDegree = new int[n + 1];
        for (int u : edges[0]) {
            outDegree[u + 1]++;
        }
        for (int i = 0; i < n; i++) {
            outDegree[i + 1] += outDegree[i];
        }
        int[] start = outDegree.clone();
        int[] succ = new int[edges[0].length];
        for (int i = 0; i < edges[0].length; i++) {
            succ[start[edges[0][i]]++] = edges[1][i];
        }
        long pairs = 0;
        int[] seen = new int[n];
        int[] queue = new int[n];
        for (int s = 0; s < n; s++) {
            int stamp = s + 1;
            int head = 0;
            int tail = 0;
            queue[tail++] = s;
            while (head < tail) {
                int u = queue[head++];
                for (int i = outDegree[u]; i < outDegree[u + 1]; i++) {
                    int v = succ[i];
                    if (seen[v] != stamp) {
                        seen[v] = stamp;
                        queue[tail++] = v;
                        pairs++;
                    }
                }
            }
        }
        return pairs;
    }
}
