package com.zvk.quarnelbrisk.bench;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.example.PointsTo;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;

/**
 * Runs every workload and size in fresh processes, the engine's through Workloads and the peer's
 * through peer_bench, and prints one line a workload and size with the medians of the repetitions.
 *
 * <pre>
 * BenchDriver --java JAVA --classpath CP --lib DIR --probe-lib DIR [--peer PEER] [--reps N]
 *             [--only queens,closure,random,...] [--add majority:1001,...] [--gc-rate N]
 *             [--engine-cache N] [--markdown FILE] [--smoke]
 * </pre>
 *
 * The engine's collection rate defaults to the node-table size: the peer collects when its node
 * table fills, and the engine then collects after as many new nodes. A lower rate collects more
 * often; the engine frees a dead diagram one level per collection (a freed node's children are
 * released when its record is reused), so the right rate depends on the workload.
 *
 * Each (workload, size) has one untimed counting run of the engine (the probe library, for the
 * nodes created), then REPS timed runs of each side, alternating. Every run checks its own answer;
 * the driver also requires both sides to agree on the answer and on the size of the result
 * diagram (the same set under the same variable order is the same reduced diagram), and stops with
 * status 1 at the first disagreement. --smoke runs the smallest sizes once each: a check of the
 * answers, with figures that mean nothing.
 *
 * <p>Circuits (named as in {@link Circuits}) are written to netlist files that both sides read, and
 * get a table of their own with the slowest single operation of each side. --add adds circuits or
 * sizes to the set. The lock-in guard (engine only) times one conjunction on a fresh cache and on a
 * full one; the driver flags it, and exits with status 1 after the tables, when the two times are
 * more than 1.5 apart. A line marked "cache 2^22" gives the engine's cache as many bytes as the
 * peer's six caches take (see README.md); --engine-cache N does that for every line. A line marked
 * "typed defaults" runs the engine through the typed layer as Engine.start() sets it up, the peer
 * as on every line; --only typed picks those lines. A typed line marked "peer table 690,000" gives
 * the peer a node table of as many nodes as the typed layer's collection floor carves records: the
 * two sides at equal memory for nodes.
 */
public final class BenchDriver {
    /** The numbers given to both sides: engine doInit(NODE_TABLE, CACHE, gcRate, true), peer bdd_init(NODE_TABLE, CACHE). */
    static final int NODE_TABLE = 1 << 22;
    static final int CACHE = 1 << 20;
    static final int SMOKE_NODE_TABLE = 1 << 16;
    static final int SMOKE_CACHE = 1 << 14;
    /**
     * The engine's cache bound at which its one cache takes about the bytes of the peer's: the
     * peer's peak RSS grows by 143.6 MiB for every 2^20 of its cache size (six caches of 24-byte
     * entries); the engine's entries take 32 bytes, so 2^22 of them take 128 MiB (the next power,
     * 256 MiB).
     */
    static final int EQUAL_CACHE = 1 << 22;
    static final double LOCKIN_LIMIT = 1.5;
    /** The facts of the points-to analysis (PointsTo.generate) and their seed. */
    static final int POINTS_TO_FACTS = 100_000;
    static final long POINTS_TO_SEED = 0x706F696E7473L;  // "points"
    static final long LOCKIN_TIMEOUT_SECONDS = 120;

    /**
     * engineCache 0: the same cache bound as the peer's. A typed job runs the engine through the
     * typed layer with its defaults (Engine.Settings.DEFAULTS), the peer as in the other jobs.
     */
    private record Job(String workload, int size, int engineCache, boolean typed, int peerTable) {
        Job(String workload, int size) {
            this(workload, size, 0, false, 0);
        }

        Job(String workload, int size, int engineCache) {
            this(workload, size, engineCache, false, 0);
        }

        static Job typed(String workload, int size) {
            return new Job(workload, size, 0, true, 0);
        }

        /** A typed job whose peer gets a node table of the typed layer's floor: both at equal records. */
        static Job typedAtFloor(String workload, int size) {
            return new Job(workload, size, 0, true, Engine.Settings.DEFAULT_COLLECTION_FLOOR);
        }

        /** The workload's name for Workloads. */
        String engineWorkload() {
            String name = isCircuit() ? "circuit" : workload;
            return typed ? "typed-" + name : name;
        }

        boolean isCircuit() {
            return List.of(Circuits.NAMES).contains(workload);
        }

        boolean isLockIn() {
            return workload.equals("lockin");
        }

        boolean isPointsTo() {
            return workload.equals("pointsto");
        }

        /** The peer's name of the workload: the closure over runs is the peer's closure. */
        String peerWorkload() {
            return isCircuit() ? "circuit" : workload.equals("closurer") ? "closure" : workload;
        }
    }

    private static final List<Job> FULL = List.of(
            new Job("queens", 8), new Job("queens", 9), new Job("queens", 10), new Job("queens", 11),
            new Job("queens", 12),
            new Job("closure", 10), new Job("closure", 11), new Job("closure", 12), new Job("closure", 12, EQUAL_CACHE),
            new Job("insert", 100_000), new Job("insert", 300_000), new Job("insert", 1_000_000),
            new Job("roundtrip", 1_000_000),
            new Job("arbiter", 128), new Job("ripple", 256), new Job("lookahead", 256), new Job("comparator", 18),
            new Job("majority", 201), new Job("shifter", 256), new Job("random", 3000),
            new Job("random", 3000, EQUAL_CACHE),
            new Job("lockin", 16),
            Job.typed("closure", 12), Job.typedAtFloor("closure", 12), Job.typed("queens", 11),
            Job.typed("insert", 1_000_000), Job.typed("random", 3000),
            new Job("succ", 8), new Job("succ", 12), new Job("succ", 16), new Job("succ", 20), new Job("succ", 24),
            new Job("transpose", 100_000), new Job("closurer", 10), new Job("closurei", 10),
            new Job("closurer", 11), new Job("closurei", 11), new Job("pointsto", POINTS_TO_FACTS));
    private static final List<Job> SMOKE = List.of(
            new Job("queens", 8), new Job("closure", 8), new Job("insert", 10_000), new Job("roundtrip", 10_000),
            new Job("arbiter", 8), new Job("ripple", 8), new Job("lookahead", 8), new Job("comparator", 6),
            new Job("majority", 9), new Job("shifter", 8), new Job("random", 200), new Job("lockin", 8),
            Job.typed("closure", 8), Job.typedAtFloor("closure", 8), Job.typed("queens", 8),
            Job.typed("insert", 10_000), Job.typed("random", 200),
            new Job("succ", 8), new Job("transpose", 1000), new Job("closurer", 6), new Job("closurei", 6),
            new Job("pointsto", 2000));

    private String java;
    private String classpath;
    private String lib;
    private String probeLib;
    private String peer = "";
    private int reps = 5;
    private int gcRate = -1;  // the node-table size
    private boolean smoke;
    private Set<String> only;
    private final List<Job> added = new ArrayList<>();
    private int engineCache;
    private Path markdown;
    private Path netlists;

    public static void main(String[] args) throws IOException, InterruptedException {
        BenchDriver d = new BenchDriver();
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--java" -> d.java = args[++i];
                case "--classpath" -> d.classpath = args[++i];
                case "--lib" -> d.lib = args[++i];
                case "--probe-lib" -> d.probeLib = args[++i];
                case "--peer" -> d.peer = args[++i];
                case "--reps" -> d.reps = Integer.parseInt(args[++i]);
                case "--only" -> d.only = Set.of(args[++i].split(","));
                case "--add" -> {
                    for (String nameSize : args[++i].split(",")) {
                        String[] ns = nameSize.split(":");
                        d.added.add(new Job(ns[0], Integer.parseInt(ns[1])));
                    }
                }
                case "--engine-cache" -> d.engineCache = Integer.parseInt(args[++i]);
                case "--gc-rate" -> d.gcRate = Integer.parseInt(args[++i]);
                case "--markdown" -> d.markdown = Path.of(args[++i]);
                case "--smoke" -> d.smoke = true;
                default -> {
                    System.err.println("BenchDriver: unknown argument " + args[i]);
                    System.exit(2);
                }
            }
        }
        if (d.java == null || d.classpath == null || d.lib == null || d.probeLib == null || d.reps < 1) {
            System.err.println("usage: BenchDriver --java JAVA --classpath CP --lib DIR --probe-lib DIR [--peer PEER]"
                    + " [--reps N] [--only W,...] [--add CIRCUIT:SIZE,...] [--gc-rate N] [--engine-cache N]"
                    + " [--markdown FILE] [--smoke]");
            System.exit(2);
        }
        if (d.smoke) {
            d.reps = 1;
        }
        d.run();
    }

    // ---- running -------------------------------------------------------------------------------

    private void run() throws IOException, InterruptedException {
        int table = smoke ? SMOKE_NODE_TABLE : NODE_TABLE;
        int cache = smoke ? SMOKE_CACHE : CACHE;
        int rate = gcRate < 0 ? table : gcRate;
        netlists = Files.createTempDirectory("bench-netlists");
        netlists.toFile().deleteOnExit();  // after the files, which are registered later
        List<Row> rows = new ArrayList<>();
        List<String> lockInFailures = new ArrayList<>();
        for (Job job : concat(smoke ? SMOKE : FULL, added)) {
            if (only != null && !only.contains(job.workload) && !(job.typed && only.contains("typed"))) {
                continue;
            }
            int jobCache = job.engineCache > 0 ? job.engineCache : engineCache > 0 ? engineCache : cache;
            String what = Integer.toString(job.size);
            if (job.isCircuit()) {
                Path file = netlists.resolve(job.workload + "-" + job.size + ".net");
                Circuits.generate(job.workload, job.size).write(file);
                file.toFile().deleteOnExit();
                what = file.toString();
            } else if (job.isPointsTo()) {
                Path file = netlists.resolve("pointsto-" + job.size + ".facts");
                PointsTo.write(PointsTo.generate(job.size, POINTS_TO_SEED), file);
                file.toFile().deleteOnExit();
                what = file.toString();
            }
            List<String> engineArgs = List.of(job.engineWorkload(), what,
                    Integer.toString(table), Integer.toString(jobCache), Integer.toString(rate));
            if (job.isLockIn()) {
                Row row = lockIn(job, engineArgs);
                rows.add(row);
                System.err.println(row.text());
                if (!smoke && row.lockInFailed()) {
                    lockInFailures.add(row.text());
                }
                continue;
            }
            Map<String, String> counted = engine(probeLib, engineArgs, true, 0);
            List<Map<String, String>> engineRuns = new ArrayList<>();
            List<Map<String, String>> peerRuns = new ArrayList<>();
            for (int r = 0; r < reps; r++) {
                engineRuns.add(engine(lib, engineArgs, false, 0));
                if (!peer.isEmpty()) {
                    List<String> cmd = new ArrayList<>(List.of(peer, job.peerWorkload(), what,
                            Integer.toString(job.peerTable > 0 ? job.peerTable : table), Integer.toString(cache)));
                    peerRuns.add(runChild(cmd, 0));
                }
            }
            for (Map<String, String> run : concat(List.of(counted), engineRuns, peerRuns)) {
                agree(job, "answer", counted, run);
                agree(job, "result_nodes", counted, run);
            }
            Row row = new Row(job, jobCache, counted, engineRuns, peerRuns);
            rows.add(row);
            System.err.println(row.text());
        }
        String report = report(rows, table, cache, rate);
        System.out.print(report);
        if (markdown != null) {
            Files.writeString(markdown, report);
        }
        for (String failure : lockInFailures) {
            System.out.println("FAILED lock-in guard, the two times more than " + LOCKIN_LIMIT + " apart: " + failure);
        }
        if (!lockInFailures.isEmpty()) {
            System.exit(1);
        }
        System.out.println(smoke ? "Smoke run: every answer checked and agreed." : "Every answer checked and agreed.");
    }

    /** The guard's runs: the engine alone, each run bounded in time (the old replacement rule never ends). */
    private Row lockIn(Job job, List<String> engineArgs) throws IOException, InterruptedException {
        List<Map<String, String>> runs = new ArrayList<>();
        for (int r = 0; r < reps; r++) {
            Map<String, String> run = engine(lib, engineArgs, false, smoke ? 0 : LOCKIN_TIMEOUT_SECONDS);
            runs.add(run);
            if (run.containsKey("timed_out")) {
                break;
            }
        }
        return new Row(job, Integer.parseInt(engineArgs.get(3)), runs.get(0), runs, List.of());
    }

    private Map<String, String> engine(String libDir, List<String> args, boolean countNodes, long timeoutSeconds)
            throws IOException, InterruptedException {
        List<String> cmd = new ArrayList<>(List.of(java, "-Djava.library.path=" + libDir, "-cp", classpath,
                Workloads.class.getName()));
        cmd.addAll(args);
        if (countNodes) {
            cmd.add("--count-nodes");
        }
        return runChild(cmd, timeoutSeconds);
    }

    /**
     * Runs one child to its end and returns the fields of its RESULT line; stops the run on failure.
     * With a timeout above 0, a child still running then is killed and "timed_out" is its one field.
     */
    private static Map<String, String> runChild(List<String> cmd, long timeoutSeconds)
            throws IOException, InterruptedException {
        Process p = new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        if (timeoutSeconds > 0 && !p.waitFor(timeoutSeconds, TimeUnit.SECONDS)) {
            p.destroyForcibly().waitFor();
            return Map.of("timed_out", Long.toString(timeoutSeconds));
        }
        String out;
        try (InputStream in = p.getInputStream()) {
            out = new String(in.readAllBytes(), StandardCharsets.UTF_8);
        }
        int status = p.waitFor();
        Map<String, String> fields = null;
        for (String line : out.split("\n")) {
            if (line.startsWith("RESULT ")) {
                fields = new HashMap<>();
                for (String kv : line.substring(7).trim().split(" ")) {
                    int eq = kv.indexOf('=');
                    fields.put(kv.substring(0, eq), kv.substring(eq + 1));
                }
            }
        }
        if (status != 0 || fields == null || !fields.containsKey("peak_rss_kb")) {
            System.out.print(out);
            System.out.println("FAILED: " + String.join(" ", cmd) + " exited with status " + status);
            System.exit(1);
        }
        return fields;
    }

    private static void agree(Job job, String key, Map<String, String> a, Map<String, String> b) {
        if (!a.get(key).equals(b.get(key))) {
            System.out.println("FAILED " + job.workload + " " + job.size + ": " + key + " " + a.get(key) + " ("
                    + a.get("side") + ") against " + b.get(key) + " (" + b.get("side") + ")");
            System.exit(1);
        }
    }

    @SafeVarargs
    private static <T> List<T> concat(List<T>... lists) {
        List<T> all = new ArrayList<>();
        for (List<T> l : lists) {
            all.addAll(l);
        }
        return all;
    }

    static double median(List<Map<String, String>> runs, String key) {
        double[] v = runs.stream().mapToDouble(r -> Double.parseDouble(r.get(key))).sorted().toArray();
        if (v.length == 0) {
            return Double.NaN;
        }
        return v.length % 2 == 1 ? v[v.length / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
    }

    // ---- the table -----------------------------------------------------------------------------

    private static final String[] HEADER = {"workload", "size", "engine ms", "peer ms", "engine/peer",
        "engine RSS MiB", "engine own MiB", "engine records", "peer RSS MiB", "peer table MiB", "engine B/live node",
        "peer B/live node", "engine Mnodes/s", "peer Mnodes/s", "answer", "result nodes"};

    private static final String[] CIRCUIT_HEADER = {"circuit", "size", "gates", "engine ms", "peer ms", "engine/peer",
        "engine slowest op", "engine slowest ms", "peer slowest op", "peer slowest ms", "slowest engine/peer",
        "engine RSS MiB", "engine own MiB", "engine records", "peer RSS MiB", "ones on 64 vectors", "output nodes"};

    private static final String[] LOCKIN_HEADER = {"lock-in guard", "size", "fresh ms", "filled ms",
        "filled/fresh", "within " + LOCKIN_LIMIT};

    private record Row(Job job, int engineCache, Map<String, String> counted, List<Map<String, String>> engine,
            List<Map<String, String>> peer) {
        String size() {
            String size = job.workload.startsWith("closure") ? "2^" + job.size
                    : job.workload.equals("insert") || job.workload.equals("roundtrip") || job.workload.equals("transpose")
                    ? String.format(Locale.ROOT, "%,d", job.size)
                    : job.isPointsTo() ? String.format(Locale.ROOT, "%,d facts", job.size) : Integer.toString(job.size);
            if (job.typed) {
                return size + ", typed defaults"
                        + (job.peerTable > 0 ? String.format(Locale.ROOT, ", peer table %,d", job.peerTable) : "");
            }
            return job.engineCache > 0 ? size + ", cache 2^" + Integer.numberOfTrailingZeros(job.engineCache) : size;
        }

        String[] header() {
            return job.isLockIn() ? LOCKIN_HEADER : job.isCircuit() ? CIRCUIT_HEADER : HEADER;
        }

        String[] cells() {
            if (job.isLockIn()) {
                return lockInCells();
            }
            boolean hasPeer = !peer.isEmpty();
            double em = median(engine, "ms");
            double pm = median(peer, "ms");
            if (job.isCircuit()) {
                double es = median(engine, "slowest_ms");
                double ps = median(peer, "slowest_ms");
                return new String[] {job.workload, size(), counted.get("gates"), fmt(em), hasPeer ? fmt(pm) : "-",
                    hasPeer ? ratio(em / pm) : "-", engine.get(0).get("slowest_op"), fmt(es),
                    hasPeer ? peer.get(0).get("slowest_op") : "-", hasPeer ? fmt(ps) : "-", hasPeer ? ratio(es / ps) : "-",
                    mib(median(engine, "peak_rss_kb") * 1024), mib(median(engine, "own_bytes")), records(),
                    hasPeer ? mib(median(peer, "peak_rss_kb") * 1024) : "-", counted.get("answer"),
                    counted.get("result_nodes")};
            }
            String answer = job.workload.equals("roundtrip") ? "same handle" : counted.get("answer");
            return new String[] {job.workload, size(), fmt(em), hasPeer ? fmt(pm) : "-",
                hasPeer ? ratio(em / pm) : "-",
                mib(median(engine, "peak_rss_kb") * 1024), mib(median(engine, "own_bytes")), records(),
                hasPeer ? mib(median(peer, "peak_rss_kb") * 1024) : "-", hasPeer ? mib(median(peer, "own_bytes")) : "-",
                perNode(median(engine, "own_bytes"), median(engine, "live_nodes")),
                hasPeer ? perNode(median(peer, "own_bytes"), median(peer, "live_nodes")) : "-",
                rate(counted.get("created"), em), hasPeer ? rate(peer.get(0).get("created"), pm) : "-",
                answer, counted.get("result_nodes")};
        }

        /** "Total nodes allocated" at the end of the timed part. */
        private String records() {
            return String.format(Locale.ROOT, "%,.0f", median(engine, "records"));
        }

        private String[] lockInCells() {
            if (timedOut()) {
                return new String[] {"conjunction", size(), "-", "> " + LOCKIN_TIMEOUT_SECONDS + " s", "-", "no"};
            }
            double r = median(engine, "ratio");
            return new String[] {"conjunction", size(), fmt(median(engine, "fresh_ms")), fmt(median(engine, "filled_ms")),
                ratio(r), lockInFailed() ? "no" : "yes"};
        }

        private boolean timedOut() {
            return engine.stream().anyMatch(run -> run.containsKey("timed_out"));
        }

        boolean lockInFailed() {
            if (timedOut()) {
                return true;
            }
            double r = median(engine, "ratio");
            return r > LOCKIN_LIMIT || r < 1 / LOCKIN_LIMIT;
        }

        String text() {
            String[] c = cells();
            String[] h = header();
            StringBuilder s = new StringBuilder();
            for (int i = 0; i < c.length; i++) {
                s.append(i == 0 ? "" : "  ").append(h[i]).append(' ').append(c[i]);
            }
            return s.toString();
        }

        boolean isRoundTrip() {
            return job.workload.equals("roundtrip");
        }
    }

    private static String ratio(double r) {
        return String.format(Locale.ROOT, "%.2f", r);
    }

    private static String fmt(double ms) {
        return ms >= 100 ? String.format(Locale.ROOT, "%.0f", ms) : String.format(Locale.ROOT, "%.1f", ms);
    }

    private static String mib(double bytes) {
        return String.format(Locale.ROOT, "%.1f", bytes / (1 << 20));
    }

    private static String perNode(double bytes, double live) {
        return live > 0 ? String.format(Locale.ROOT, "%.1f", bytes / live) : "-";
    }

    private static String rate(String created, double ms) {
        return created == null ? "-" : String.format(Locale.ROOT, "%.2f", Double.parseDouble(created) / ms / 1e3);
    }

    private String report(List<Row> rows, int table, int cache, int rate) {
        StringBuilder s = new StringBuilder();
        s.append(String.format(Locale.ROOT, "engine: doInit(%d, %d, %d, true); peer: bdd_init(%d, %d), "
                + "bdd_setmaxincrease(1 << 30); median of %d run%s, each in a fresh process%n%n",
                table, engineCache > 0 ? engineCache : cache, rate, table, cache, reps, reps == 1 ? "" : "s"));
        table(s, HEADER, rows.stream().filter(r -> !r.job.isCircuit() && !r.job.isLockIn()).map(Row::cells).toList());
        List<String[]> trips = new ArrayList<>();
        for (Row r : rows) {
            if (!r.isRoundTrip()) {
                continue;
            }
            boolean hasPeer = !r.peer.isEmpty();
            double eb = median(r.engine, "stream_bytes");
            double pb = hasPeer ? median(r.peer, "stream_bytes") : 0;
            trips.add(new String[] {r.cells()[1], String.format(Locale.ROOT, "%,.0f", eb),
                fmt(median(r.engine, "write_ms")), fmt(median(r.engine, "read_ms")),
                mibPerS(eb, median(r.engine, "write_ms")), mibPerS(eb, median(r.engine, "read_ms")),
                hasPeer ? String.format(Locale.ROOT, "%,.0f", pb) : "-",
                hasPeer ? fmt(median(r.peer, "write_ms")) : "-", hasPeer ? fmt(median(r.peer, "read_ms")) : "-",
                hasPeer ? mibPerS(pb, median(r.peer, "write_ms")) : "-",
                hasPeer ? mibPerS(pb, median(r.peer, "read_ms")) : "-"});
        }
        if (!trips.isEmpty()) {
            s.append(System.lineSeparator());
            table(s, new String[] {"round trip of insert", "engine stream bytes", "engine write ms", "engine read ms",
                "engine write MiB/s", "engine read MiB/s", "peer stream bytes", "peer write ms", "peer read ms",
                "peer write MiB/s", "peer read MiB/s"}, trips);
        }
        List<String[]> circuits = rows.stream().filter(r -> r.job.isCircuit()).map(Row::cells).toList();
        if (!circuits.isEmpty()) {
            s.append(System.lineSeparator());
            table(s, CIRCUIT_HEADER, circuits);
        }
        List<String[]> guard = rows.stream().filter(r -> r.job.isLockIn()).map(Row::cells).toList();
        if (!guard.isEmpty()) {
            s.append(System.lineSeparator());
            table(s, LOCKIN_HEADER, guard);
        }
        return s.toString();
    }

    private static String mibPerS(double bytes, double ms) {
        return String.format(Locale.ROOT, "%.1f", bytes / (1 << 20) / (ms / 1e3));
    }

    /** A Markdown table whose columns are padded, so that it reads as well on a terminal. */
    private static void table(StringBuilder s, String[] header, List<String[]> rows) {
        int[] w = new int[header.length];
        for (String[] r : concat(List.<String[]>of(header), rows)) {
            for (int i = 0; i < r.length; i++) {
                w[i] = Math.max(w[i], r[i].length());
            }
        }
        line(s, header, w);
        String[] rule = new String[header.length];
        for (int i = 0; i < rule.length; i++) {
            rule[i] = i < 2 ? "-".repeat(w[i]) : "-".repeat(w[i] - 1) + ":";
        }
        line(s, rule, w);
        for (String[] r : rows) {
            line(s, r, w);
        }
    }

    private static void line(StringBuilder s, String[] cells, int[] w) {
        s.append('|');
        for (int i = 0; i < cells.length; i++) {
            String c = cells[i];
            String pad = " ".repeat(w[i] - c.length());
            s.append(' ').append(i < 2 ? c + pad : pad + c).append(" |");
        }
        s.append(System.lineSeparator());
    }
}
