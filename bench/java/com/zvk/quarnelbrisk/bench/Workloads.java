package com.zvk.quarnelbrisk.bench;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;

/**
 * One run of one workload against the engine, in a process of its own, checking its own answer.
 *
 * <pre>
 * Workloads WORKLOAD SIZE MAX_NODE_CACHE MAX_OP_CACHE GC_RATE [--count-nodes]
 *   queens N          the N-queens solutions, one variable a square
 *   closure K         transitive closure of a random graph on 2^K nodes
 *   insert M          M random tuples of two 20-bit fields added one by one
 *   roundtrip M       the set of insert M written to an object stream and read back
 * </pre>
 *
 * It prints one line "RESULT key=value ..." (BenchDriver reads it) and exits with status 1, after a
 * line "FAILED ...", when an answer is wrong. Only the work itself is timed: start-up, input
 * generation and the checks are not. {@code --count-nodes} needs the probe build of the library
 * (build/bench/probe), which also exports a reader of the engine's creation counter.
 */
public final class Workloads {
    private static final int[] PAIR_FIRST = {0, Inputs.TUPLE_BITS};
    private static final int[] PAIR_WIDTH = {Inputs.TUPLE_BITS, Inputs.TUPLE_BITS};
    private static final int[] PAIR_BOUND = {1 << Inputs.TUPLE_BITS, 1 << Inputs.TUPLE_BITS};

    private final Map<String, Object> result = new LinkedHashMap<>();
    private final boolean countNodes;
    private long startNanos;
    private long startCreated;

    private Workloads(boolean countNodes) {
        this.countNodes = countNodes;
    }

    public static void main(String[] args) throws IOException {
        if (args.length < 5) {
            System.err.println("usage: Workloads queens|closure|insert|roundtrip SIZE MAX_NODE_CACHE MAX_OP_CACHE"
                    + " GC_RATE [--count-nodes]");
            System.exit(2);
        }
        String workload = args[0];
        int size = Integer.parseInt(args[1]);
        BDDManagerNativeProxy.doInit(Integer.parseInt(args[2]), Integer.parseInt(args[3]),
                Integer.parseInt(args[4]), true);
        Workloads w = new Workloads(args.length > 5 && args[5].equals("--count-nodes"));
        w.result.put("side", "engine");
        w.result.put("workload", workload);
        w.result.put("size", size);
        int kept = switch (workload) {
            case "queens" -> w.queens(size);
            case "closure" -> w.closure(size);
            case "insert" -> w.insert(size);
            case "roundtrip" -> w.roundTrip(size);
            default -> throw new IllegalArgumentException("unknown workload " + workload);
        };
        w.memoryFigures(kept);
        StringBuilder line = new StringBuilder("RESULT");
        w.result.forEach((k, v) -> line.append(' ').append(k).append('=').append(v));
        System.out.println(line);
    }

    // ---- timing and the figures every run reports ---------------------------------------------

    private void startClock() {
        startCreated = countNodes ? EngineProbe.createdNodes() : 0;
        startNanos = System.nanoTime();
    }

    /** Milliseconds since startClock; the nodes created in between when counting. */
    private double stopClock(String prefix) {
        double ms = (System.nanoTime() - startNanos) / 1e6;
        result.put(prefix + "ms", String.format("%.3f", ms));
        if (countNodes) {
            result.put(prefix + "created", EngineProbe.createdNodes() - startCreated);
        }
        return ms;
    }

    /** With only {@code kept} held: the engine's bytes, its live nodes and the process's peak RSS. */
    private void memoryFigures(int kept) throws IOException {
        BDDManagerNativeProxy.doCollectGarbage();
        result.put("result_nodes", BDDNativeProxy.doGetNumOfNodes(kept));
        String alive = BDDManagerNativeProxy.doGetInfo()[0];  // "Alive nodes: N"
        result.put("live_nodes", Long.parseLong(alive.substring(alive.indexOf(':') + 1).trim()));
        result.put("own_bytes", Integer.toUnsignedLong(BDDManagerNativeProxy.doGetMemoryState()));
        BDDNativeProxy.doDecRefCount(kept);
        result.put("peak_rss_kb", peakRssKb());
    }

    /** VmHWM, the peak resident set of this process, as getrusage's ru_maxrss reports it. */
    static long peakRssKb() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IOException("no VmHWM in /proc/self/status");
    }

    private static void check(String what, long got, long expected) {
        if (got != expected) {
            System.out.println("FAILED " + what + ": got " + got + ", expected " + expected);
            System.exit(1);
        }
    }

    /** Gives {@code old} back and returns {@code fresh}: the step of every fold below. */
    private static int replace(int old, int fresh) {
        BDDNativeProxy.doDecRefCount(old);
        return fresh;
    }

    // ---- the workloads -------------------------------------------------------------------------

    static final long[] QUEENS_SOLUTIONS = {1, 1, 0, 0, 2, 10, 4, 40, 92, 352, 724, 2680, 14200, 73712};

    /**
     * Square (i, j) is variable i*n + j, true when a queen stands there. Rows are added from the
     * last one up: each row holds a queen, and no two queens attack each other; every attacking pair
     * is added once, with the row of its earlier square. The peer builds it the same way, in the same
     * order. Terminal counts need not be exact, so the folds start from zero and one without taking
     * a reference on them.
     */
    private int queens(int n) {
        int[][] queen = new int[n][n];
        int[][] free = new int[n][n];  // free[i][j]: no queen on (i, j)
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < n; j++) {
                queen[i][j] = BDDManagerNativeProxy.doMakeSingleTupleUnary(i * n + j, 1, 1);
                free[i][j] = BDDManagerNativeProxy.doMakeSingleTupleUnary(i * n + j, 1, 0);
            }
        }
        startClock();
        int board = BDDManagerNativeProxy.doGetOne();
        int[] at = new int[2];
        for (int i = n - 1; i >= 0; i--) {
            int row = BDDManagerNativeProxy.doGetZero();
            for (int j = 0; j < n; j++) {
                row = replace(row, BDDNativeProxy.doUnite(row, queen[i][j]));
            }
            board = replace(board, BDDNativeProxy.doIntersect(board, row));
            BDDNativeProxy.doDecRefCount(row);
            for (int j = 0; j < n; j++) {
                for (int p = 0; p < 4; p++) {
                    int part = BDDManagerNativeProxy.doGetOne();
                    for (int k = 0; k < n; k++) {
                        if (!attacksLater(p, i, j, k, n, at)) {
                            continue;
                        }
                        int clause = BDDNativeProxy.doUnite(free[i][j], free[at[0]][at[1]]);
                        part = replace(part, BDDNativeProxy.doIntersect(part, clause));
                        BDDNativeProxy.doDecRefCount(clause);
                    }
                    board = replace(board, BDDNativeProxy.doIntersect(board, part));
                    BDDNativeProxy.doDecRefCount(part);
                }
            }
        }
        int[] first = new int[n];
        int[] width = new int[n];
        int[] bound = new int[n];
        for (int i = 0; i < n; i++) {
            first[i] = i * n;
            width[i] = n;
            bound[i] = 1 << n;
        }
        int solutions = BDDNativeProxy.doGetNumOfTuples(board, first, width, bound);
        stopClock("");
        for (int[] r : queen) {
            for (int h : r) {
                BDDNativeProxy.doDecRefCount(h);
            }
        }
        for (int[] r : free) {
            for (int h : r) {
                BDDNativeProxy.doDecRefCount(h);
            }
        }
        result.put("answer", solutions);
        check("queens " + n + " solutions", solutions, QUEENS_SOLUTIONS[n]);
        return board;
    }

    /**
     * The k-th square after (i, j) in row-major order that (i, j) attacks in direction p (0 its row,
     * 1 its column, 2 and 3 its two diagonals), into {@code at}; false when there is none for this k.
     */
    static boolean attacksLater(int p, int i, int j, int k, int n, int[] at) {
        switch (p) {
            case 0 -> { at[0] = i; at[1] = k; return k > j; }
            case 1 -> { at[0] = k; at[1] = j; return k > i; }
            case 2 -> { at[0] = k; at[1] = k - i + j; return k > i && at[1] < n; }
            default -> { at[0] = k; at[1] = i + j - k; return k > i && at[1] >= 0; }
        }
    }

    /** The closure of the example, over a random graph; the pair count against a breadth-first search. */
    private int closure(int bits) {
        int[][] edges = Inputs.graph(bits);
        DependencyAnalysis analysis = new DependencyAnalysis(1 << bits);
        int[] first = analysis.pairFirstVar();
        int[] width = analysis.pairWidth();
        int direct = BDDManagerNativeProxy.doGetZero();
        for (int i = 0; i < edges[0].length; i++) {
            direct = replace(direct, BDDNativeProxy.doAddTuple(direct, first, width,
                    new int[] {edges[0][i], edges[1][i]}));
        }
        startClock();
        DependencyAnalysis.Closure closure = analysis.transitiveClosure(direct);
        int pairs = analysis.pairs(closure.handle(), 1 << bits);
        stopClock("");
        BDDNativeProxy.doDecRefCount(direct);
        result.put("answer", pairs);
        result.put("iterations", closure.iterations());
        check("closure 2^" + bits + " pairs", pairs, Inputs.reachablePairs(bits, edges));
        return closure.handle();
    }

    /** The set of the first m generated tuples, one doAddTuple a tuple, as an application fills it. */
    private int buildTuples(int m) {
        int[][] t = Inputs.tuples(m);
        startClock();
        int set = BDDManagerNativeProxy.doGetZero();
        for (int i = 0; i < m; i++) {
            set = replace(set, BDDNativeProxy.doAddTuple(set, PAIR_FIRST, PAIR_WIDTH, new int[] {t[0][i], t[1][i]}));
        }
        return set;
    }

    private static long distinctTuples(int m) {
        int[][] t = Inputs.tuples(m);
        Set<Long> distinct = new HashSet<>();
        for (int i = 0; i < m; i++) {
            distinct.add(((long) t[0][i] << Inputs.TUPLE_BITS) | t[1][i]);
        }
        return distinct.size();
    }

    private int insert(int m) {
        int set = buildTuples(m);
        int count = BDDNativeProxy.doGetNumOfTuples(set, PAIR_FIRST, PAIR_WIDTH, PAIR_BOUND);
        stopClock("");
        result.put("answer", count);
        check("insert " + m + " distinct tuples", count, distinctTuples(m));
        return set;
    }

    /** Writes the set of insert m to a byte array and reads it back while it lives: the same handle. */
    private int roundTrip(int m) throws IOException {
        int set = buildTuples(m);
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        startClock();
        try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
            BDDManagerNativeProxy.doSerialize(out, new int[] {set}, null, 1.0, "write");
        }
        double writeMs = stopClock("write_");
        byte[] stream = bytes.toByteArray();
        startClock();
        int[] back;
        try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(stream))) {
            back = BDDManagerNativeProxy.doDeserialize(in, null, 1.0, "read");
        }
        double readMs = stopClock("read_");
        result.put("ms", String.format("%.3f", writeMs + readMs));
        result.put("stream_bytes", stream.length);
        result.put("answer", back == null ? -1 : back.length == 1 ? back[0] == set ? 1 : 0 : -1);
        check("roundtrip " + m + " gives one root back", back == null ? -1 : back.length, 1);
        check("roundtrip " + m + " gives the same handle back", back[0], set);
        BDDNativeProxy.doDecRefCount(back[0]);
        int count = BDDNativeProxy.doGetNumOfTuples(set, PAIR_FIRST, PAIR_WIDTH, PAIR_BOUND);
        check("roundtrip " + m + " distinct tuples", count, distinctTuples(m));
        return set;
    }
}
