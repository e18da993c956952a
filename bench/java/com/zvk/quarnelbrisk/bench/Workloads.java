package com.zvk.quarnelbrisk.bench;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
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
 *   circuit FILE      every gate of the netlist FILE (see Circuits) built in order
 *   lockin N          one conjunction on a fresh cache and again on a cache full of live results
 *   typed-closure K, typed-queens N, typed-insert M, typed-circuit FILE
 *                     the same through the typed layer, started with Engine.Settings.DEFAULTS (the
 *                     three numbers are then not used; -Dtyped.bounds=NODE_CACHE,OP_CACHE and
 *                     -Dtyped.floor=RECORDS change the defaults' table bounds and collection floor)
 *   succ, transpose, closurei, closurer, pointsto: see FieldWorkloads (through the typed layer)
 * </pre>
 *
 * It prints one line "RESULT key=value ..." (BenchDriver reads it) and exits with status 1, after a
 * line "FAILED ...", when an answer is wrong. Only the work itself is timed: start-up, input
 * generation and the checks are not. {@code --count-nodes} needs the probe build of the library
 * (bench/probe in the build tree), which also exports a reader of the engine's creation counter.
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
            System.err.println("usage: Workloads queens|closure|insert|roundtrip|circuit SIZE|FILE MAX_NODE_CACHE MAX_OP_CACHE"
                    + " GC_RATE [--count-nodes]");
            System.exit(2);
        }
        String workload = args[0];
        if (FieldWorkloads.NAMES.contains(workload)) {
            FieldWorkloads.run(args);
            return;
        }
        boolean isCircuit = workload.endsWith("circuit");
        int size = isCircuit ? 0 : Integer.parseInt(args[1]);
        if (!workload.startsWith("typed-")) {  // the typed workloads start the engine themselves
            BDDManagerNativeProxy.doInit(Integer.parseInt(args[2]), Integer.parseInt(args[3]),
                    Integer.parseInt(args[4]), true);
        }
        Workloads w = new Workloads(args.length > 5 && args[5].equals("--count-nodes"));
        w.result.put("side", "engine");
        w.result.put("workload", workload);
        w.result.put("size", isCircuit ? args[1] : size);
        int[] kept = switch (workload) {
            case "queens" -> new int[] {w.queens(size)};
            case "closure" -> new int[] {w.closure(size)};
            case "insert" -> new int[] {w.insert(size)};
            case "roundtrip" -> new int[] {w.roundTrip(size)};
            case "circuit" -> w.circuit(Path.of(args[1]));
            case "lockin" -> w.lockIn(size, Integer.parseInt(args[3]));
            case "typed-closure" -> w.typedClosure(size);
            case "typed-queens" -> w.typedQueens(size);
            case "typed-insert" -> w.typedInsert(size);
            case "typed-circuit" -> w.typedCircuit(Path.of(args[1]));
            default -> throw new IllegalArgumentException("unknown workload " + workload);
        };
        w.memoryFigures(kept);
        printResult(w.result);
    }

    /** The line that BenchDriver reads: "RESULT key=value ...". */
    static void printResult(Map<String, Object> result) {
        StringBuilder line = new StringBuilder("RESULT");
        result.forEach((k, v) -> line.append(' ').append(k).append('=').append(v));
        System.out.println(line);
    }

    // ---- timing and the figures every run reports ---------------------------------------------

    private void startClock() {
        startCreated = countNodes ? EngineProbe.createdNodes() : 0;
        startNanos = System.nanoTime();
    }

    /**
     * Milliseconds since startClock; the nodes created in between when counting. Also the records
     * the store has carved by then ("Total nodes allocated", which never falls).
     */
    private double stopClock(String prefix) {
        double ms = (System.nanoTime() - startNanos) / 1e6;
        result.put(prefix + "ms", String.format("%.3f", ms));
        String records = BDDManagerNativeProxy.doGetInfo()[1];
        result.put("records", Long.parseLong(records.substring(records.indexOf(':') + 1).trim()));
        if (countNodes) {
            result.put(prefix + "created", EngineProbe.createdNodes() - startCreated);
        }
        return ms;
    }

    /**
     * With only {@code kept} held: the nodes of its diagrams (added up), the engine's bytes (records,
     * unique table and operation cache as they lie in memory), its live nodes and the process's peak
     * RSS.
     */
    private void memoryFigures(int[] kept) throws IOException {
        BDDManagerNativeProxy.doCollectGarbage();
        long nodes = 0;
        for (int k : kept) {
            nodes += BDDNativeProxy.doGetNumOfNodes(k);
        }
        result.put("result_nodes", nodes);
        String alive = BDDManagerNativeProxy.doGetInfo()[0];  // "Alive nodes: N"
        result.put("live_nodes", Long.parseLong(alive.substring(alive.indexOf(':') + 1).trim()));
        long[] stats = BDDEngineNativeProxy.doGetStats();
        result.put("own_bytes", stats[BDDEngineNativeProxy.STAT_RECORD_BYTES] + stats[BDDEngineNativeProxy.STAT_BUCKET_BYTES]
                + stats[BDDEngineNativeProxy.STAT_CACHE_BYTES]);
        for (int k : kept) {
            BDDNativeProxy.doDecRefCount(k);
        }
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

    // ---- circuits --------------------------------------------------------------------------------

    // The slowest call so far: its time, its kind ("and@", "not@", ...) and its gate or output. The
    // name is put together after the clock stops: the first string concatenation of a fresh JVM links
    // its bootstrap method, which takes longer than a small circuit's gates.
    private long slowestNanos = -1;
    private String slowestWhat = "";
    private int slowestIndex;

    /** One native call of the circuit build (doIntersect of a and b, or doComplement of a), timed alone. */
    private int timed(String what, int k, int a, int b) {
        long t0 = System.nanoTime();
        int r = b == 0 ? BDDNativeProxy.doComplement(a) : BDDNativeProxy.doIntersect(a, b);
        long t = System.nanoTime() - t0;
        if (t > slowestNanos) {
            slowestNanos = t;
            slowestWhat = what;
            slowestIndex = k;
        }
        return r;
    }

    /** For each signal the gate that reads it last, gates() for an output, -1 for none. */
    private static int[] lastReaders(Circuits.Netlist c) {
        int[] lastReader = new int[c.inputs() + 1 + c.gates()];
        Arrays.fill(lastReader, -1);
        for (int k = 0; k < c.gates(); k++) {
            lastReader[c.fanin()[2 * k] >> 1] = k;
            lastReader[c.fanin()[2 * k + 1] >> 1] = k;
        }
        for (int o : c.outputs()) {
            lastReader[o >> 1] = c.gates();
        }
        return lastReader;
    }

    /**
     * Every gate's diagram built in the netlist's order, as verification tools do: a complemented
     * input through doComplement, each gate with doIntersect, each diagram given back after its last
     * reader; the outputs are held. Then the outputs against a simulation of the netlist on 64 random
     * input vectors: output o is 1 on a vector when its diagram meets the vector's cube.
     */
    private int[] circuit(Path file) throws IOException {
        Circuits.Netlist c = Circuits.Netlist.read(file);
        int signals = c.inputs() + 1 + c.gates();
        int[] lastReader = lastReaders(c);
        int[] diagram = new int[signals];
        for (int i = 1; i <= c.inputs(); i++) {
            diagram[i] = BDDManagerNativeProxy.doMakeSingleTupleUnary(i - 1, 1, 1);
        }
        // The first call of a native links it; that is the JVM's cost, not the engine's, so it comes
        // before the clock (a complement and a conjunction of inputs, given back at once).
        if (c.inputs() >= 2) {
            BDDNativeProxy.doDecRefCount(BDDNativeProxy.doComplement(diagram[1]));
            BDDNativeProxy.doDecRefCount(BDDNativeProxy.doIntersect(diagram[1], diagram[2]));
        }
        startClock();
        for (int k = 0; k < c.gates(); k++) {
            int la = c.fanin()[2 * k];
            int lb = c.fanin()[2 * k + 1];
            int a = (la & 1) == 0 ? diagram[la >> 1] : timed("not@", k, diagram[la >> 1], 0);
            int b = (lb & 1) == 0 ? diagram[lb >> 1] : timed("not@", k, diagram[lb >> 1], 0);
            diagram[c.gateSignal(k)] = timed("and@", k, a, b);
            if ((la & 1) != 0) {
                BDDNativeProxy.doDecRefCount(a);
            }
            if ((lb & 1) != 0) {
                BDDNativeProxy.doDecRefCount(b);
            }
            if (lastReader[la >> 1] == k) {
                BDDNativeProxy.doDecRefCount(diagram[la >> 1]);
            }
            if (lastReader[lb >> 1] == k && lb >> 1 != la >> 1) {
                BDDNativeProxy.doDecRefCount(diagram[lb >> 1]);
            }
        }
        int[] outputs = new int[c.outputs().length];
        for (int o = 0; o < outputs.length; o++) {
            int lit = c.outputs()[o];
            if ((lit & 1) == 0) {
                BDDNativeProxy.doIncRefCount(diagram[lit >> 1]);
                outputs[o] = diagram[lit >> 1];
            } else {
                outputs[o] = timed("not-out@", o, diagram[lit >> 1], 0);
            }
        }
        stopClock("");
        for (int s = 1; s < signals; s++) {
            if (lastReader[s] == c.gates()) {
                BDDNativeProxy.doDecRefCount(diagram[s]);
            }
        }
        result.put("slowest_ms", String.format("%.3f", slowestNanos / 1e6));
        result.put("slowest_op", slowestWhat + slowestIndex);
        result.put("gates", c.gates());
        checkSimulation(c, outputs);
        return outputs;
    }

    private void checkSimulation(Circuits.Netlist c, int[] outputs) {
        long[] vectors = Circuits.simulationVectors(c.inputs());
        long[] expected = c.simulate(vectors);
        int[] first = new int[c.inputs()];
        int[] width = new int[c.inputs()];
        for (int i = 0; i < first.length; i++) {
            first[i] = i;
            width[i] = 1;
        }
        long[] got = new long[outputs.length];
        for (int j = 0; j < 64; j++) {
            int[] value = new int[c.inputs()];
            for (int i = 0; i < value.length; i++) {
                value[i] = (int) ((vectors[i] >>> j) & 1);
            }
            int cube = BDDManagerNativeProxy.doMakeSingleTuple(first, width, value);
            for (int o = 0; o < outputs.length; o++) {
                int meet = BDDNativeProxy.doIntersect(outputs[o], cube);
                if (meet != BDDManagerNativeProxy.doGetZero()) {  // zero comes back without a reference
                    got[o] |= 1L << j;
                    BDDNativeProxy.doDecRefCount(meet);
                }
            }
            BDDNativeProxy.doDecRefCount(cube);
        }
        long ones = 0;
        for (int o = 0; o < outputs.length; o++) {
            check(c.name() + " output " + o + " on the 64 vectors", got[o], expected[o]);
            ones += Long.bitCount(got[o]);
        }
        result.put("answer", ones);
    }

    // ---- through the typed layer, with its defaults ------------------------------------------------

    /**
     * An engine with the typed layer's defaults; the system properties {@code typed.bounds}, as
     * "NODE_CACHE,OP_CACHE", and {@code typed.floor}, a collection floor, change them (to measure
     * what the bounds and the floor cost).
     */
    static Engine typedEngine() {
        Engine.Settings settings = Engine.Settings.DEFAULTS;
        String bounds = System.getProperty("typed.bounds");
        if (bounds != null) {
            String[] b = bounds.split(",");
            settings = settings.withTableBounds(Integer.parseInt(b[0]), Integer.parseInt(b[1]));
        }
        String floor = System.getProperty("typed.floor");
        return Engine.start(floor == null ? settings : settings.withCollectionFloor(Integer.parseInt(floor)));
    }

    /** The handles of sets, each with a reference of its own for memoryFigures; the sets are closed. */
    private static int[] keep(TupleSet... sets) {
        int[] handles = new int[sets.length];
        for (int i = 0; i < sets.length; i++) {
            handles[i] = sets[i].handle();
            BDDNativeProxy.doIncRefCount(handles[i]);
            sets[i].close();
        }
        return handles;
    }

    /** The closure of {@link #closure} as an application writes it: join on y, z renamed to y, union. */
    private int[] typedClosure(int bits) {
        int[][] edges = Inputs.graph(bits);
        Engine engine = typedEngine();
        Field x = engine.field("x", bits);
        Field y = engine.field("y", bits);
        Field z = engine.field("z", bits);
        List<int[]> pairs = Inputs.edgePairs(edges);
        TupleSet direct = engine.of(engine.layout(x, y), pairs);
        startClock();
        int[] iterations = {0};
        TupleSet t = naiveClosure(direct, x, y, z, iterations);
        long pairCount = t.countLong();
        stopClock("");
        direct.close();
        result.put("answer", pairCount);
        result.put("iterations", iterations[0]);
        check("closure 2^" + bits + " pairs", pairCount, Inputs.reachablePairs(bits, edges));
        return keep(t);
    }

    /**
     * The naive closure of D(x, y) as the peer computes it: T := T or (T joined with D shifted to
     * (y, z)), z renamed to y, until nothing changes. The caller owns T; {@code iterations[0]}
     * counts the rounds.
     */
    static TupleSet naiveClosure(TupleSet direct, Field x, Field y, Field z, int[] iterations) {
        TupleSet t = direct.copy();
        try (TupleSet shifted = direct.rename(Map.of(x, y, y, z))) {
            while (true) {
                iterations[0]++;
                TupleSet next;
                try (TupleSet joined = t.join(shifted, y); TupleSet step = joined.rename(Map.of(z, y))) {
                    next = t.union(step);
                }
                boolean same = next.sameTuplesAs(t);
                t.close();
                t = next;
                if (same) {
                    return t;
                }
            }
        }
    }

    /**
     * The queens of {@link #queens} over one field of n bits a row, every square's set over the whole
     * board (the field's bit set, the other fields free), folded as there.
     */
    private int[] typedQueens(int n) {
        Engine engine = typedEngine();
        Field[] rows = new Field[n];
        for (int i = 0; i < n; i++) {
            rows[i] = engine.field("row" + i, n);
        }
        Layout board = engine.layout(rows);
        TupleSet[][] queen = new TupleSet[n][n];
        TupleSet[][] free = new TupleSet[n][n];
        try (TupleSet all = engine.all(board)) {
            for (int i = 0; i < n; i++) {
                for (int j = 0; j < n; j++) {
                    List<int[]> values = new ArrayList<>();
                    for (int v = 0; v < 1 << n; v++) {
                        if ((v >> (n - 1 - j) & 1) != 0) {
                            values.add(new int[] {v});
                        }
                    }
                    try (TupleSet square = engine.of(engine.layout(rows[i]), values)) {
                        queen[i][j] = all.join(square);
                    }
                    free[i][j] = queen[i][j].complement();
                }
            }
        }
        startClock();
        TupleSet solution = engine.all(board);
        int[] at = new int[2];
        for (int i = n - 1; i >= 0; i--) {
            TupleSet row = engine.empty(board);
            for (int j = 0; j < n; j++) {
                row = replaced(row, row.union(queen[i][j]));
            }
            solution = replaced(solution, solution.intersect(row));
            row.close();
            for (int j = 0; j < n; j++) {
                for (int p = 0; p < 4; p++) {
                    TupleSet part = engine.all(board);
                    for (int k = 0; k < n; k++) {
                        if (!attacksLater(p, i, j, k, n, at)) {
                            continue;
                        }
                        try (TupleSet clause = free[i][j].union(free[at[0]][at[1]])) {
                            part = replaced(part, part.intersect(clause));
                        }
                    }
                    solution = replaced(solution, solution.intersect(part));
                    part.close();
                }
            }
        }
        long solutions = solution.countLong();
        stopClock("");
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < n; j++) {
                queen[i][j].close();
                free[i][j].close();
            }
        }
        result.put("answer", solutions);
        check("queens " + n + " solutions", solutions, QUEENS_SOLUTIONS[n]);
        return keep(solution);
    }

    /** One call of the typed circuit build (a.intersect(b), or a.complement()), timed alone as {@link #timed} does. */
    private TupleSet timedSet(String what, int k, TupleSet a, TupleSet b) {
        long t0 = System.nanoTime();
        TupleSet r = b == null ? a.complement() : a.intersect(b);
        long t = System.nanoTime() - t0;
        if (t > slowestNanos) {
            slowestNanos = t;
            slowestWhat = what;
            slowestIndex = k;
        }
        return r;
    }

    /** Closes {@code old} and returns {@code fresh}: the step of the typed folds. */
    private static TupleSet replaced(TupleSet old, TupleSet fresh) {
        old.close();
        return fresh;
    }

    /** The tuples of {@link #insert}, one {@code with} a tuple. */
    private int[] typedInsert(int m) {
        int[][] t = Inputs.tuples(m);
        Engine engine = typedEngine();
        Layout pair = engine.layout(engine.field("x", Inputs.TUPLE_BITS), engine.field("y", Inputs.TUPLE_BITS));
        startClock();
        TupleSet set = engine.empty(pair);
        for (int i = 0; i < m; i++) {
            set = replaced(set, set.with(t[0][i], t[1][i]));
        }
        long count = set.countLong();
        stopClock("");
        result.put("answer", count);
        check("insert " + m + " distinct tuples", count, distinctTuples(m));
        return keep(set);
    }

    /**
     * The gates of {@link #circuit} over one one-bit field an input, every signal's set over all the
     * inputs: a complemented input through {@code complement}, each gate with {@code intersect},
     * each set closed after its last reader.
     */
    private int[] typedCircuit(Path file) throws IOException {
        Circuits.Netlist c = Circuits.Netlist.read(file);
        Engine engine = typedEngine();
        Field[] inputs = new Field[c.inputs()];
        for (int i = 0; i < inputs.length; i++) {
            inputs[i] = engine.field("in" + (i + 1), 1);
        }
        Layout all = engine.layout(inputs);
        int signals = c.inputs() + 1 + c.gates();
        int[] lastReader = lastReaders(c);
        TupleSet[] signal = new TupleSet[signals];
        try (TupleSet full = engine.all(all)) {
            for (int i = 1; i <= c.inputs(); i++) {
                try (TupleSet one = engine.tuple(engine.layout(inputs[i - 1]), 1)) {
                    signal[i] = full.join(one);
                }
            }
        }
        startClock();
        for (int k = 0; k < c.gates(); k++) {
            int la = c.fanin()[2 * k];
            int lb = c.fanin()[2 * k + 1];
            TupleSet a = (la & 1) == 0 ? signal[la >> 1] : timedSet("not@", k, signal[la >> 1], null);
            TupleSet b = (lb & 1) == 0 ? signal[lb >> 1] : timedSet("not@", k, signal[lb >> 1], null);
            signal[c.gateSignal(k)] = timedSet("and@", k, a, b);
            if ((la & 1) != 0) {
                a.close();
            }
            if ((lb & 1) != 0) {
                b.close();
            }
            if (lastReader[la >> 1] == k) {
                signal[la >> 1].close();
            }
            if (lastReader[lb >> 1] == k && lb >> 1 != la >> 1) {
                signal[lb >> 1].close();
            }
        }
        TupleSet[] outputs = new TupleSet[c.outputs().length];
        for (int o = 0; o < outputs.length; o++) {
            int lit = c.outputs()[o];
            outputs[o] = (lit & 1) == 0 ? signal[lit >> 1].copy() : timedSet("not-out@", o, signal[lit >> 1], null);
        }
        stopClock("");
        for (int s = 1; s < signals; s++) {
            if (lastReader[s] == c.gates()) {
                signal[s].close();
            }
        }
        result.put("slowest_ms", String.format("%.3f", slowestNanos / 1e6));
        result.put("slowest_op", slowestWhat + slowestIndex);
        result.put("gates", c.gates());
        int[] kept = keep(outputs);
        checkSimulation(c, kept);
        return kept;
    }

    // ---- the lock-in guard -------------------------------------------------------------------------

    static final int LOCKIN_PARITY = 24;

    /**
     * The operands of the guard's conjunction, copy c on variables from c * (2n + 27) on: the
     * equality of two n-bit fields (a's bits all before b's: about 3 * 2^n nodes) and the parity of
     * the 24 variables after them, and a 3-node cube on the last 3 variables. Their conjunction
     * meets each node of the first once while the cache remembers its sub-results, and once a path
     * (2^(n+23) of them reach one) when it forgets them all.
     */
    private static int[] lockInOperands(int n, int copy) {
        int base = copy * (2 * n + LOCKIN_PARITY + 3);
        int f = BDDManagerNativeProxy.doMakeSingleTupleUnary(base + 2 * n + LOCKIN_PARITY - 1, 1, 1);
        for (int v = base + 2 * n + LOCKIN_PARITY - 2; v >= base + 2 * n; v--) {  // x_v xor f
            int x = BDDManagerNativeProxy.doMakeSingleTupleUnary(v, 1, 1);
            int notX = BDDNativeProxy.doComplement(x);
            int notF = BDDNativeProxy.doComplement(f);
            int one = BDDNativeProxy.doIntersect(x, notF);
            int other = BDDNativeProxy.doIntersect(notX, f);
            for (int h : new int[] {x, notX, notF, f}) {
                BDDNativeProxy.doDecRefCount(h);
            }
            f = BDDNativeProxy.doUnite(one, other);
            BDDNativeProxy.doDecRefCount(one);
            BDDNativeProxy.doDecRefCount(other);
        }
        for (int i = n - 1; i >= 0; i--) {
            int e = BDDManagerNativeProxy.doMakeEquals(base + i, base + n + i);
            f = replace(f, BDDNativeProxy.doIntersect(f, e));
            BDDNativeProxy.doDecRefCount(e);
        }
        return new int[] {f, BDDManagerNativeProxy.doMakeSingleTupleUnary(base + 2 * n + LOCKIN_PARITY, 3, 5)};
    }

    /** Copies of the operands timed on each side of the guard; each side counts its fastest. */
    static final int LOCKIN_COPIES = 3;

    /**
     * The same conjunction on copies of its operands: first with the cache as building the operands
     * left it, then after 2 * cache unions that fill the cache (grown to its bound) with
     * live entries whose result is one node held by all of them: the union of b, the set where
     * variable v is 1, with each of 2 * cache distinct subsets of b, tuples whose first field is
     * v = 1. Each union's result is b, held by the caller, so b's count saturates and every such
     * entry has more references than any fresh result. Each side times one conjunction on each of
     * its copies and keeps the fastest, so that a time slice lost to another process on this shared
     * machine does not decide the ratio. Prints both times and their ratio; the driver compares them.
     */
    private int[] lockIn(int n, int cache) {
        int[][] copies = new int[2 * LOCKIN_COPIES][];
        for (int c = 0; c < copies.length; c++) {
            copies[c] = lockInOperands(n, c);
        }
        int[] results = new int[copies.length];
        int v = copies.length * (2 * n + LOCKIN_PARITY + 3);
        int fills = 2 * cache;
        int width = 32 - Integer.numberOfLeadingZeros(fills);
        int b = BDDManagerNativeProxy.doMakeSingleTupleUnary(v, 1, 1);
        // The subsets are made before the first conjunctions, so that both sides meet a store of the
        // same size. Each subset's root is made last and alone, so that their stamps follow one
        // another and the entries keyed by them spread over every slot of the cache.
        int[] subsets = new int[fills];
        for (int k = 0; k < fills; k++) {
            subsets[k] = BDDManagerNativeProxy.doMakeSingleTupleUnary(v + 1, width, k);
        }
        for (int k = 0; k < fills; k++) {
            subsets[k] = replace(subsets[k], BDDNativeProxy.doIntersect(b, subsets[k]));
        }
        double fresh = timeConjunctions(copies, results, 0, "fresh_");
        int nodes0 = BDDNativeProxy.doGetNumOfNodes(results[0]);
        for (int k = 0; k < fills; k++) {
            BDDNativeProxy.doUnite(subsets[k], b);  // b, with one more reference, kept for good
        }
        double filled = timeConjunctions(copies, results, LOCKIN_COPIES, "filled_");
        for (int c = 1; c < copies.length; c++) {
            check("lockin: every conjunction of the same size", BDDNativeProxy.doGetNumOfNodes(results[c]), nodes0);
        }
        result.put("ms", String.format("%.3f", fresh + filled));
        result.put("ratio", String.format("%.3f", filled / fresh));
        result.put("answer", nodes0);
        for (int h : subsets) {
            BDDNativeProxy.doDecRefCount(h);
        }
        for (int c = 0; c < copies.length; c++) {
            BDDNativeProxy.doDecRefCount(copies[c][0]);
            BDDNativeProxy.doDecRefCount(copies[c][1]);
            if (c > 0) {
                BDDNativeProxy.doDecRefCount(results[c]);
            }
        }
        BDDNativeProxy.doDecRefCount(b);
        return new int[] {results[0]};
    }

    /** The conjunction on copies [from, from + LOCKIN_COPIES), each timed alone; the fastest time. */
    private double timeConjunctions(int[][] copies, int[] results, int from, String prefix) {
        double fastest = Double.MAX_VALUE;
        for (int c = from; c < from + LOCKIN_COPIES; c++) {
            startClock();
            results[c] = BDDNativeProxy.doIntersect(copies[c][0], copies[c][1]);
            fastest = Math.min(fastest, stopClock(prefix));
        }
        result.put(prefix + "ms", String.format("%.3f", fastest));
        return fastest;
    }
}
