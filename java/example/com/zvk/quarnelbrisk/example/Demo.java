package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.BufferedInputStream;
import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/**
 * The transitive dependencies of the packages of a Debian package database, computed with the
 * engine from Java and checked against a plain breadth-first search.
 *
 * <pre>
 * make demo                                   # this machine's /var/lib/dpkg/status
 * make demo ARGS="--packages Packages"        # any file of the same format, e.g. an apt list
 * make demo ARGS="--stream /tmp/closure.bin"  # where the diagrams are written (default: a temp file)
 * </pre>
 */
public final class Demo {
    /** Engine parameters: room for a few million nodes, a collection every 10000 creations. */
    static final int MAX_NODE_CACHE = 1 << 24;
    static final int MAX_OP_CACHE = 1 << 22;
    static final int GC_RATE = 10_000;

    private Demo() {}

    /** What a run found; the JUnit test of the example checks these. */
    public record Report(int packages, int bits, long directPairs, int closurePairs, long bfsPairs, int iterations,
            int directNodes, int closureNodes, int streamNodes, boolean sameHandlesOnReadBack,
            int aliveAfterRestart, List<String> failedChecks) {}

    public static void main(String[] args) throws IOException {
        Path packages = Path.of("/var/lib/dpkg/status");
        Path stream = null;
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--packages" -> packages = Path.of(args[++i]);
                case "--stream" -> stream = Path.of(args[++i]);
                default -> {
                    System.err.println("usage: Demo [--packages FILE] [--stream FILE]");
                    System.exit(2);
                }
            }
        }
        boolean temporary = stream == null;
        if (temporary) {
            stream = Files.createTempFile("closure", ".diagrams");
        }
        try {
            Report r = run(PackageDatabase.read(packages), packages.toString(), stream, System.out);
            System.exit(r.failedChecks().isEmpty() ? 0 : 1);
        } finally {
            if (temporary) {
                Files.deleteIfExists(stream);
            }
        }
    }

    /** The whole analysis, printed to {@code out}. */
    public static Report run(PackageDatabase db, String source, Path streamFile, PrintStream out) throws IOException {
        BDDManagerNativeProxy.doInit(MAX_NODE_CACHE, MAX_OP_CACHE, GC_RATE, true);
        int n = db.size();
        DependencyAnalysis analysis = new DependencyAnalysis(n);
        int k = analysis.bits();
        List<String> failed = new ArrayList<>();

        out.printf("Dependency analysis of %s%n", source);
        long start = System.nanoTime();
        int direct = analysis.directRelation(db);
        DependencyAnalysis.Closure closure = analysis.transitiveClosure(direct);
        long nanos = System.nanoTime() - start;
        int t = closure.handle();
        int directPairs = analysis.pairs(direct, n);
        int closurePairs = analysis.pairs(t, n);
        int directNodes = BDDNativeProxy.doGetNumOfNodes(direct);
        int closureNodes = BDDNativeProxy.doGetNumOfNodes(t);
        out.printf("  packages          %d, encoded in %d bits%n", n, k);
        out.printf("  direct pairs      %d (%d dependency entries named no package here)%n", directPairs,
                db.unresolvedEntries());
        out.printf("  closure pairs     %d after %d iterations%n", closurePairs, closure.iterations());
        out.printf("  nodes             %d for the direct relation, %d for the closure%n", directNodes, closureNodes);
        out.printf("  time              %.1f ms to build both%n", nanos / 1e6);

        List<int[]> pairs = analysis.listPairs(t, n);
        int[] dependencies = new int[n];
        int[] dependents = new int[n];
        for (int[] pair : pairs) {
            dependencies[pair[0]]++;
            dependents[pair[1]]++;
        }
        printTop(out, "Most transitive dependencies", db, dependencies);
        printTop(out, "Most depended upon", db, dependents);

        out.println("Checks");
        long bfs = breadthFirstPairs(db);
        check(out, failed, "closure pairs against a breadth-first search in Java", bfs == closurePairs,
                closurePairs + (bfs == closurePairs ? " = " : " != ") + bfs + (bfs == closurePairs ? ": agrees" : ""));
        check(out, failed, "listing gives every closure pair once, in order", pairs.size() == closurePairs
                && isAscending(pairs), pairs.size() + " pairs");
        checkAlgebra(out, failed, analysis, db, direct, t, closurePairs, dependencies);

        // The stream: both diagrams to a file, and back while the originals live.
        int streamNodes;
        try (ObjectOutputStream os = new ObjectOutputStream(new BufferedOutputStream(Files.newOutputStream(streamFile)))) {
            ProgressBar bar = new ProgressBar(out, "writing");
            BDDManagerNativeProxy.doSerialize(os, new int[] {t, direct}, bar, 1.0, "writing");
            bar.finish();
        }
        int[] back;
        try (ObjectInputStream is = new ObjectInputStream(new BufferedInputStream(Files.newInputStream(streamFile)))) {
            ProgressBar bar = new ProgressBar(out, "reading");
            back = BDDManagerNativeProxy.doDeserialize(is, bar, 1.0, "reading");
            bar.finish();
        }
        streamNodes = nodeCountOfStream(streamFile);
        boolean same = back != null && back.length == 2 && back[0] == t && back[1] == direct;
        check(out, failed, "stream read back to the same handles", same,
                Files.size(streamFile) + " bytes, " + streamNodes + " distinct nodes");
        if (back != null) {
            for (int h : back) {
                BDDNativeProxy.doDecRefCount(h);
            }
        }

        out.println("Statistics");
        for (String line : BDDManagerNativeProxy.doGetInfo()) {
            out.println("  " + line);
        }
        out.printf("  Memory: %d bytes%n", BDDManagerNativeProxy.doGetMemoryState());

        // Give everything back, then start afresh from the stream: the store then holds exactly what
        // the two retained diagrams need.
        BDDNativeProxy.doDecRefCount(t);
        BDDNativeProxy.doDecRefCount(direct);
        BDDManagerNativeProxy.doCollectGarbage();
        BDDManagerNativeProxy.doInit(MAX_NODE_CACHE, MAX_OP_CACHE, GC_RATE, true);
        int alive;
        int[] roots;
        try (ObjectInputStream is = new ObjectInputStream(new BufferedInputStream(Files.newInputStream(streamFile)))) {
            roots = BDDManagerNativeProxy.doDeserialize(is, null, 1.0, "");
        }
        try (Diagram closureBack = new Diagram(roots[0]); Diagram directBack = new Diagram(roots[1])) {
            BDDManagerNativeProxy.doCollectGarbage();
            alive = alive();
            boolean exact = alive == streamNodes && analysis.pairs(closureBack.handle(), n) == closurePairs
                    && analysis.pairs(directBack.handle(), n) == directPairs;
            check(out, failed, "after a restart from the stream, Alive nodes is what the two diagrams need", exact,
                    alive + " alive, " + streamNodes + " in the stream");
        }
        out.println(failed.isEmpty() ? "All checks passed." : "FAILED: " + failed);
        return new Report(n, k, db.directPairs(), closurePairs, bfs, closure.iterations(), directNodes, closureNodes,
                streamNodes, same, alive, failed);
    }

    private static void checkAlgebra(PrintStream out, List<String> failed, DependencyAnalysis analysis,
            PackageDatabase db, int direct, int t, int closurePairs, int[] dependencies) {
        int k = analysis.bits();
        int n = db.size();
        check(out, failed, "the closure contains every direct pair", BDDNativeProxy.doSuperset(t, direct), "");
        int meet = BDDNativeProxy.doIntersect(t, direct);
        check(out, failed, "closure ∩ direct is the direct relation itself", meet == direct, "");
        BDDNativeProxy.doDecRefCount(meet);

        int diagonal = analysis.diagonal();
        int onCycle = BDDNativeProxy.doIntersect(t, diagonal);
        long cyclic = breadthFirstCycles(db);
        int cycleCount = analysis.pairs(onCycle, n);
        check(out, failed, "packages on a dependency cycle", cycleCount == cyclic, cycleCount + "");
        BDDNativeProxy.doDecRefCount(onCycle);
        BDDNativeProxy.doDecRefCount(diagonal);

        int users = BDDNativeProxy.doExists(direct, k, k);  // x with some dependency
        int viaRelprod = BDDNativeProxy.doRelprod(direct, BDDManagerNativeProxy.doGetOne(), k, k);
        int byVariable = direct;
        BDDNativeProxy.doIncRefCount(byVariable);
        for (int v = k; v < 2 * k; v++) {
            int next = BDDNativeProxy.doExistsVar(byVariable, v);
            BDDNativeProxy.doDecRefCount(byVariable);
            byVariable = next;
        }
        int withDeps = BDDNativeProxy.doGetNumOfTuples(users, new int[] {0}, new int[] {k}, new int[] {n});
        long expected = Arrays.stream(dependencies).filter(d -> d > 0).count();
        check(out, failed, "packages with dependencies: exists, relprod with one and existsVar agree",
                users == viaRelprod && users == byVariable && withDeps == expected, withDeps + "");
        BDDNativeProxy.doDecRefCount(users);
        BDDNativeProxy.doDecRefCount(viaRelprod);
        BDDNativeProxy.doDecRefCount(byVariable);

        check(out, failed, "the closure tests the dependency field and nothing beyond it",
                BDDNativeProxy.doTestVars(t, k, k) && !BDDNativeProxy.doTestVars(t, 2 * k, 32766 - 2 * k), "");
        int rest = BDDNativeProxy.doComplement(t);
        int restPairs = analysis.pairs(rest, n);
        check(out, failed, "the complement holds every other pair of k-bit numbers",
                restPairs == (int) ((1L << (2 * k)) - closurePairs), restPairs + "");
        BDDNativeProxy.doDecRefCount(rest);

        int top = argMax(dependencies);
        int field = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, k, top);
        int ofTop = BDDNativeProxy.doIntersect(t, field);
        int topCount = analysis.pairs(ofTop, n);
        check(out, failed, "transitive dependencies of " + db.name(top), topCount == dependencies[top], topCount + "");
        BDDNativeProxy.doDecRefCount(ofTop);
        BDDNativeProxy.doDecRefCount(field);
        if (db.dependencies(top).length > 0) {
            int pair = BDDManagerNativeProxy.doMakeSingleTuple(analysis.pairFirstVar(), analysis.pairWidth(),
                    new int[] {top, db.dependencies(top)[0]});
            check(out, failed, "a direct pair is in the direct relation", BDDNativeProxy.doSuperset(direct, pair), "");
            BDDNativeProxy.doDecRefCount(pair);
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
            total += reachable(db, x).cardinality();
        }
        return total;
    }

    /** Packages that reach themselves. */
    static long breadthFirstCycles(PackageDatabase db) {
        long total = 0;
        for (int x = 0; x < db.size(); x++) {
            if (reachable(db, x).get(x)) {
                total++;
            }
        }
        return total;
    }

    private static java.util.BitSet reachable(PackageDatabase db, int x) {
        java.util.BitSet seen = new java.util.BitSet(db.size());
        java.util.ArrayDeque<Integer> queue = new java.util.ArrayDeque<>();
        queue.add(x);
        while (!queue.isEmpty()) {
            for (int d : db.dependencies(queue.poll())) {
                if (!seen.get(d)) {
                    seen.set(d);
                    queue.add(d);
                }
            }
        }
        return seen;
    }

    private static boolean isAscending(List<int[]> pairs) {
        for (int i = 1; i < pairs.size(); i++) {
            if (Arrays.compare(pairs.get(i - 1), pairs.get(i)) >= 0) {
                return false;
            }
        }
        return true;
    }

    private static int argMax(int[] values) {
        int best = 0;
        for (int i = 1; i < values.length; i++) {
            if (values[i] > values[best]) {
                best = i;
            }
        }
        return best;
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

    private static int alive() {
        String line = BDDManagerNativeProxy.doGetInfo()[0];
        return Integer.parseInt(line.substring(line.indexOf(':') + 2));
    }

    /** N - 2 of the stream's header: the distinct inner nodes of the diagrams written. */
    private static int nodeCountOfStream(Path file) throws IOException {
        try (ObjectInputStream is = new ObjectInputStream(new BufferedInputStream(Files.newInputStream(file)))) {
            int[] ints = (int[]) is.readObject();
            return ints[1] - 2;
        } catch (ClassNotFoundException e) {
            throw new IOException(e);
        }
    }

    /** A one-line progress bar on the terminal; never cancels. */
    static final class ProgressBar implements ThreadCallback {
        private final PrintStream out;
        private final String label;

        ProgressBar(PrintStream out, String label) {
            this.out = out;
            this.label = label;
        }

        @Override
        public boolean checkCancelled() {
            return false;
        }

        @Override
        public void informProgress(int done, int total, String message) {
            if (System.console() == null) {
                return;  // not a terminal: only the closing line is printed
            }
            int width = 30;
            int filled = total <= 0 ? width : (int) Math.min(width, (long) width * done / total);
            out.printf("\r  %-8s [%s%s] %3d%%", message, "#".repeat(filled), ".".repeat(width - filled),
                    total <= 0 ? 100 : (int) (100L * done / total));
        }

        void finish() {
            out.printf("\r  %-8s [%s] done%n", label, "#".repeat(30));
        }
    }
}
