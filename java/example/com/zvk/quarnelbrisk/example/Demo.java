package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.Progress;
import com.zvk.quarnelbrisk.bdd.typed.Tuple;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.io.BufferedInputStream;
import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * The transitive dependencies of the packages of a Debian package database, computed with the
 * typed tuple sets and checked against a plain breadth-first search.
 *
 * <pre>
 * make demo                                   # this machine's /var/lib/dpkg/status
 * make demo ARGS="--packages Packages"        # any file of the same format, e.g. an apt list
 * make demo ARGS="--stream /tmp/closure.bin"  # where the sets are saved (default: a temp file)
 * make demo ARGS="--picture /tmp/deps.dot"    # where the DOT picture goes (an SVG beside it)
 * </pre>
 */
public final class Demo {
    /** The engine's defaults: collections when they pay, within a bound on memory. */
    static final Engine.Settings SETTINGS = Engine.Settings.DEFAULTS;

    private Demo() {}

    /** What a run found; the JUnit test of the example checks these. */
    public record Report(int packages, int bits, long directPairs, long closurePairs, long bfsPairs, int rounds,
            int directNodes, int closureNodes, int streamNodes, boolean sameSetsOnReadBack, long aliveAfterRestart,
            boolean staleRefused, List<String> failedChecks) {}

    public static void main(String[] args) throws IOException {
        Path packages = Path.of("/var/lib/dpkg/status");
        Path stream = null;
        Path picture = null;
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--packages" -> packages = Path.of(args[++i]);
                case "--stream" -> stream = Path.of(args[++i]);
                case "--picture" -> picture = Path.of(args[++i]);
                default -> {
                    System.err.println("usage: Demo [--packages FILE] [--stream FILE] [--picture FILE.dot]");
                    System.exit(2);
                }
            }
        }
        Path temporary = Files.createTempDirectory("demo");
        try {
            Report r = run(PackageDatabase.read(packages), packages.toString(),
                    stream != null ? stream : temporary.resolve("closure.sets"),
                    picture != null ? picture : temporary.resolve("dependencies.dot"), System.out);
            System.exit(r.failedChecks().isEmpty() ? 0 : 1);
        } finally {
            try (var files = Files.list(temporary)) {
                for (Path f : files.toList()) {
                    Files.delete(f);
                }
            }
            Files.delete(temporary);
        }
    }

    /** The whole analysis, printed to {@code out}. */
    public static Report run(PackageDatabase db, String source, Path streamFile, Path picture, PrintStream out)
            throws IOException {
        Engine engine = Engine.start(SETTINGS);
        int n = db.size();
        DependencyAnalysis analysis = new DependencyAnalysis(engine, n);
        Layout pairs = analysis.pairs();
        List<String> failed = new ArrayList<>();

        out.printf("Dependency analysis of %s%n", source);
        long start = System.nanoTime();
        TupleSet direct = analysis.directRelation(db);
        long built = System.nanoTime();
        DependencyAnalysis.Closure closure = analysis.transitiveClosure(direct);
        long closed = System.nanoTime();
        TupleSet t = closure.pairs();
        long directPairs = direct.countLong();
        long closurePairs = t.countLong();
        int directNodes = direct.nodeCount();
        int closureNodes = t.nodeCount();
        out.printf("  packages          %d, encoded in %d bits%n", n, analysis.bits());
        out.printf("  direct pairs      %d (%d dependency entries named no package here)%n", directPairs,
                db.unresolvedEntries());
        out.printf("  closure pairs     %d after %d rounds (semi-naive)%n", closurePairs, closure.rounds());
        out.printf("  nodes             %d for the direct relation, %d for the closure%n", directNodes, closureNodes);
        out.printf("  time              %.1f ms for the direct relation, %.1f ms for the closure%n",
                (built - start) / 1e6, (closed - built) / 1e6);

        List<Tuple> listed = t.tuples();
        int[] dependencies = new int[n];
        int[] dependents = new int[n];
        for (Tuple pair : listed) {
            dependencies[pair.get(analysis.packageField())]++;
            dependents[pair.get(analysis.dependencyField())]++;
        }
        printTop(out, "Most transitive dependencies", db, dependencies);
        printTop(out, "Most depended upon", db, dependents);
        drawPicture(out, db, analysis, t, dependencies, picture);

        out.println("Checks");
        long bfs = breadthFirstPairs(db);
        check(out, failed, "closure pairs against a breadth-first search in Java", bfs == closurePairs,
                closurePairs + (bfs == closurePairs ? " = " : " != ") + bfs + (bfs == closurePairs ? ": agrees" : ""));
        check(out, failed, "listing gives every closure pair once, in order",
                listed.size() == closurePairs && inListingOrder(listed), listed.size() + " pairs");

        // Save both sets, and read them back while the originals live: the same sets come back.
        try (OutputStream os = new BufferedOutputStream(Files.newOutputStream(streamFile))) {
            ProgressBar bar = new ProgressBar(out, "saving");
            engine.save(os, List.of(t, direct), bar);
            bar.finish();
        }
        List<Layout> layouts = List.of(pairs, pairs);
        boolean same;
        try (InputStream is = new BufferedInputStream(Files.newInputStream(streamFile))) {
            ProgressBar bar = new ProgressBar(out, "loading");
            List<TupleSet> back = engine.load(is, layouts, bar);
            bar.finish();
            same = back.get(0).sameTuplesAs(t) && back.get(1).sameTuplesAs(direct);
            back.forEach(TupleSet::close);
        }
        int streamNodes = engine.nodeCount(List.of(t, direct));
        check(out, failed, "sets read back are the same sets", same,
                Files.size(streamFile) + " bytes, " + streamNodes + " distinct nodes");

        out.println("Statistics");
        for (String line : engine.statistics()) {
            out.println("  " + line);
        }

        // Give everything back, then start afresh from the file: the store then holds exactly what
        // the two saved sets need, and the sets of the old store refuse use.
        t.close();
        direct.close();
        TupleSet stale = engine.all(pairs);
        engine.collectGarbage();
        Engine again = Engine.start(SETTINGS);
        DependencyAnalysis fresh = new DependencyAnalysis(again, n);
        boolean staleRefused = refuses(stale);
        long alive;
        try (InputStream is = new BufferedInputStream(Files.newInputStream(streamFile))) {
            List<TupleSet> sets = again.load(is, List.of(fresh.pairs(), fresh.pairs()), null);
            alive = again.stats().liveNodes();
            boolean exact = alive == streamNodes && sets.get(0).countLong() == closurePairs
                    && sets.get(1).countLong() == directPairs;
            check(out, failed, "after a restart from the file, the store holds what the two sets need", exact,
                    alive + " alive, " + streamNodes + " in the saved sets");
            sets.forEach(TupleSet::close);
        }
        check(out, failed, "a set of the old store refuses use after the restart", staleRefused, "");
        out.println(failed.isEmpty() ? "All checks passed." : "FAILED: " + failed);
        return new Report(n, analysis.bits(), directPairs, closurePairs, bfs, closure.rounds(), directNodes,
                closureNodes, streamNodes, same, alive, staleRefused, failed);
    }

    /**
     * The transitive dependencies of one package with only a few of them, as a DOT picture, and as
     * an SVG beside it where Graphviz is installed.
     */
    private static void drawPicture(PrintStream out, PackageDatabase db, DependencyAnalysis analysis, TupleSet t,
            int[] dependencies, Path picture) throws IOException {
        int p = 0;
        for (int i = 0; i < dependencies.length; i++) {
            if (dependencies[i] >= 2 && dependencies[i] <= 4 && (dependencies[p] < 2 || dependencies[p] > 4)) {
                p = i;
            }
        }
        Layout one = t.engine().layout(analysis.packageField());
        try (TupleSet chosen = t.engine().tuple(one, p); TupleSet ofP = t.join(chosen)) {
            Files.createDirectories(picture.toAbsolutePath().getParent());
            Files.writeString(picture, ofP.toDot(), StandardCharsets.UTF_8);
            out.printf("Picture%n  %s: the %d transitive dependencies of %s, %d nodes%n", picture, dependencies[p],
                    db.name(p), ofP.nodeCount());
        }
        Path svg = picture.resolveSibling(picture.getFileName().toString().replaceFirst("(\\.dot)?$", ".svg"));
        try {
            Process dot = new ProcessBuilder("dot", "-Tsvg", "-o", svg.toString(), picture.toString())
                    .redirectErrorStream(true).start();
            if (dot.waitFor(60, TimeUnit.SECONDS) && dot.exitValue() == 0) {
                out.printf("  %s: drawn by Graphviz%n", svg);
            }
        } catch (IOException e) {
            out.println("  (no SVG: Graphviz's dot is not installed)");
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static boolean refuses(TupleSet stale) {
        try {
            stale.count();
            return false;
        } catch (IllegalStateException expected) {
            stale.close();  // releases nothing: the store it named is gone
            return true;
        }
    }

    private static void check(PrintStream out, List<String> failed, String what, boolean ok, String detail) {
        out.printf("  %-4s %s%s%n", ok ? "ok" : "FAIL", what, detail.isEmpty() ? "" : ": " + detail);
        if (!ok) {
            failed.add(what);
        }
    }

    /** (x, z) pairs with a path of one or more direct dependencies from x to z. */
    static long breadthFirstPairs(PackageDatabase db) {
        long total = 0;
        for (int x = 0; x < db.size(); x++) {
            BitSet seen = new BitSet(db.size());
            ArrayDeque<Integer> queue = new ArrayDeque<>(List.of(x));
            while (!queue.isEmpty()) {
                for (int d : db.dependencies(queue.poll())) {
                    if (!seen.get(d)) {
                        seen.set(d);
                        queue.add(d);
                    }
                }
            }
            total += seen.cardinality();
        }
        return total;
    }

    /**
     * Whether each tuple comes after the one before in the order of the engine's listings: at the
     * lowest variable where two tuples' bits differ, the one whose bit is 0 comes first. The
     * tuples' fields together hold at most 63 bits.
     */
    private static boolean inListingOrder(List<Tuple> tuples) {
        if (tuples.isEmpty()) {
            return true;
        }
        // Every bit of the layout as (variable, field, place in the value), by variable.
        List<int[]> bits = new ArrayList<>();
        List<Field> fields = tuples.get(0).layout().fields();
        for (int f = 0; f < fields.size(); f++) {
            int[] vars = fields.get(f).vars();
            for (int i = 0; i < vars.length; i++) {
                bits.add(new int[] {vars[i], f, vars.length - 1 - i});
            }
        }
        bits.sort(Comparator.comparingInt(b -> b[0]));
        long previous = -1;
        for (Tuple t : tuples) {
            long key = 0;
            for (int[] b : bits) {
                key = key << 1 | (t.values()[b[1]] >>> b[2] & 1);
            }
            if (key <= previous) {
                return false;
            }
            previous = key;
        }
        return true;
    }

    private static void printTop(PrintStream out, String title, PackageDatabase db, int[] counts) {
        out.println(title);
        Integer[] order = new Integer[counts.length];
        Arrays.setAll(order, i -> i);
        Arrays.sort(order, Comparator.comparingInt((Integer p) -> -counts[p]).thenComparing(db::name));
        for (int i = 0; i < Math.min(10, order.length); i++) {
            out.printf("  %2d. %-40s %d%n", i + 1, db.name(order[i]), counts[order[i]]);
        }
    }


    /** A one-line progress bar on the terminal; never cancels. */
    static final class ProgressBar implements Progress {
        private final PrintStream out;
        private final String label;

        ProgressBar(PrintStream out, String label) {
            this.out = out;
            this.label = label;
        }

        @Override
        public boolean proceed(int done, int total) {
            if (System.console() != null) {  // not a terminal: only the closing line is printed
                int width = 30;
                int filled = total <= 0 ? width : (int) Math.min(width, (long) width * done / total);
                out.printf("\r  %-8s [%s%s] %3d%%", label, "#".repeat(filled), ".".repeat(width - filled),
                        total <= 0 ? 100 : (int) (100L * done / total));
            }
            return true;
        }

        void finish() {
            out.printf("\r  %-8s [%s] done%n", label, "#".repeat(30));
        }
    }
}
