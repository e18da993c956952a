package com.zvk.quarnelbrisk.bench;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import com.zvk.quarnelbrisk.example.PointsTo;
import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The workloads over fields on chosen variables, through the typed layer at its defaults
 * ({@link Engine#start()}, or what {@code -Dtyped.bounds} and {@code -Dtyped.floor} give, as for the
 * typed workloads of {@link Workloads}); peer_bench runs the same ones against BuDDy with the same variable order.
 *
 * <pre>
 * Workloads succ W         to = from + 1 without wrap-around, from and to interleaved, W bits each
 * Workloads transpose N    N random pairs over two interleaved 20-bit fields, swapped by one rename
 * Workloads closurei K     the closure of closure K (naive, as the peer's), x, y and z interleaved
 * Workloads closurer K     the same with x, y and z on runs of their own
 * Workloads pointsto FILE  the points-to analysis of PointsTo on the facts in FILE
 * </pre>
 *
 * Workloads hands these to this class; the arguments after the size (the bench's table bounds and
 * collection rate) are not used, since the typed layer runs at its defaults.
 */
final class FieldWorkloads {
    static final List<String> NAMES = List.of("succ", "transpose", "closurei", "closurer", "pointsto");
    static final long TRANSPOSE_SEED = 0x7472616E73L;  // "trans"
    static final int TRANSPOSE_BITS = 20;

    private final Map<String, Object> result = new LinkedHashMap<>();
    private final boolean countNodes;
    private final Engine engine = Workloads.typedEngine();
    private long startNanos;
    private long startCreated;

    private FieldWorkloads(boolean countNodes) {
        this.countNodes = countNodes;
    }

    static void run(String[] args) throws IOException {
        FieldWorkloads w = new FieldWorkloads(args.length > 5 && args[5].equals("--count-nodes"));
        String workload = args[0];
        boolean fromFile = workload.equals("pointsto");
        int size = fromFile ? 0 : Integer.parseInt(args[1]);
        w.result.put("side", "engine");
        w.result.put("workload", workload);
        w.result.put("size", fromFile ? args[1] : size);
        TupleSet kept = switch (workload) {
            case "succ" -> w.succ(size);
            case "transpose" -> w.transpose(size);
            case "closurei" -> w.closure(size, true);
            case "closurer" -> w.closure(size, false);
            default -> w.pointsTo(Path.of(args[1]));
        };
        w.result.put("result_nodes", kept.nodeCount());
        w.engine.collectGarbage();
        Engine.Stats stats = w.engine.stats();  // with only the result held
        w.result.put("live_nodes", stats.liveNodes());
        w.result.put("own_bytes", stats.totalBytes());
        kept.close();
        w.result.put("peak_rss_kb", Workloads.peakRssKb());
        Workloads.printResult(w.result);
    }

    private void startClock() {
        startCreated = countNodes ? EngineProbe.createdNodes() : 0;
        startNanos = System.nanoTime();
    }

    private void stopClock() {
        result.put("ms", String.format("%.3f", (System.nanoTime() - startNanos) / 1e6));
        result.put("records", engine.stats().records());
        if (countNodes) {
            result.put("created", EngineProbe.createdNodes() - startCreated);
        }
    }

    private static void check(String what, long got, long expected) {
        if (got != expected) {
            System.out.println("FAILED " + what + ": got " + got + ", expected " + expected);
            System.exit(1);
        }
    }

    /** The successor relation of W-bit numbers, built by the builder; its size in nodes a bit. */
    private TupleSet succ(int width) {
        List<Field> f = engine.interleaved(width, "from", "to");
        // The peer's builder is C from its first call; the first call here links the native and loads
        // the code on the way, so a one-bit sum of fields of its own comes before the clock.
        List<Field> warm = engine.interleaved(1, "warm-from", "warm-to");
        engine.plus(warm.get(0), warm.get(1), 1).close();
        engine.collectGarbage();
        startClock();
        TupleSet relation = engine.plus(f.get(0), f.get(1), 1);
        stopClock();
        long pairs = relation.countLong();
        result.put("answer", pairs);
        result.put("nodes_per_bit", String.format("%.2f", (double) relation.nodeCount() / width));
        check("succ pairs", pairs, (1L << width) - 1);
        return relation;
    }

    /** A random relation of n pairs, its columns swapped by one rename; transposing twice gives it back. */
    private TupleSet transpose(int n) {
        List<Field> f = engine.interleaved(TRANSPOSE_BITS, "a", "b");
        Layout ab = engine.layout(f.get(0), f.get(1));
        SplitMix64 g = new SplitMix64(TRANSPOSE_SEED);
        List<int[]> pairs = new ArrayList<>(n);
        long mask = (1L << TRANSPOSE_BITS) - 1;
        for (int i = 0; i < n; i++) {
            long r = g.next();
            pairs.add(new int[] {(int) (r & mask), (int) ((r >>> TRANSPOSE_BITS) & mask)});
        }
        Map<Field, Field> swap = Map.of(f.get(0), f.get(1), f.get(1), f.get(0));
        try (TupleSet relation = engine.of(ab, pairs)) {
            // The peer builds its pair before the clock; here the first rename registers the map, and
            // links the natives and loads the code on the way, on a set of one tuple.
            try (TupleSet one = engine.tuple(ab, 1, 2)) {
                one.rename(swap).close();
            }
            engine.collectGarbage();
            startClock();
            TupleSet swapped = relation.rename(swap);
            stopClock();
            try (TupleSet back = swapped.rename(swap)) {
                check("transposing twice gives the relation back", back.handle(), relation.handle());
            }
            result.put("answer", swapped.countLong());
            return swapped;
        }
    }

    /** The naive closure of {@link Workloads#naiveClosure}, with x, y, z on runs or interleaved. */
    private TupleSet closure(int bits, boolean interleaved) {
        List<Field> xyz = interleaved ? engine.interleaved(bits, "x", "y", "z")
                : List.of(engine.field("x", bits), engine.field("y", bits), engine.field("z", bits));
        Field x = xyz.get(0);
        Field y = xyz.get(1);
        Field z = xyz.get(2);
        int[][] edges = Inputs.graph(bits);
        List<int[]> pairs = Inputs.edgePairs(edges);
        try (TupleSet direct = engine.of(engine.layout(x, y), pairs)) {
            startClock();
            int[] iterations = {0};
            TupleSet t = Workloads.naiveClosure(direct, x, y, z, iterations);
            long count = t.countLong();
            stopClock();
            result.put("answer", count);
            result.put("iterations", iterations[0]);
            check("closure 2^" + bits + " pairs", count, Inputs.reachablePairs(bits, edges));
            return t;
        }
    }

    /** The analysis of PointsTo on the facts of the file, which PointsTo.write made. */
    private TupleSet pointsTo(Path file) throws IOException {
        PointsTo.Facts facts = PointsTo.read(file);
        startClock();
        PointsTo.Result r = PointsTo.analyse(engine, facts);
        long pairs = r.pointsTo().countLong();
        long triples = r.heapPointsTo().countLong();
        long targets = r.targets().countLong();
        stopClock();
        result.put("answer", pairs);
        result.put("hpt", triples);
        result.put("targets", targets);
        result.put("rounds", r.rounds());
        result.put("hpt_nodes", r.heapPointsTo().nodeCount());
        r.heapPointsTo().close();
        r.targets().close();
        return r.pointsTo();
    }
}
