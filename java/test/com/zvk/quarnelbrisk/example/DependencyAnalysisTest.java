package com.zvk.quarnelbrisk.example;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport;
import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class DependencyAnalysisTest {
    private static final Path SAMPLE = Path.of(System.getProperty("engine.test.resources"), "dpkg-status-sample.gz");

    @Test
    void theAnalysisOfTheSampleChecksOutAndGivesEveryHandleBack(@TempDir Path dir) throws IOException {
        PackageDatabase db = PackageDatabase.read(SAMPLE);
        // Figures of an independent reading of the sample with the same resolution rules.
        assertEquals(159, db.size());
        assertEquals(465, db.directPairs());
        assertEquals(0, db.unresolvedEntries());

        ByteArrayOutputStream text = new ByteArrayOutputStream();
        Demo.Report r = Demo.run(db, "sample", dir.resolve("closure.sets"), dir.resolve("deps.dot"),
                new PrintStream(text, true, StandardCharsets.UTF_8));
        String out = text.toString(StandardCharsets.UTF_8);
        assertEquals(List.of(), r.failedChecks(), out);
        assertEquals(1521, r.closurePairs(), out);
        assertEquals(1521, r.bfsPairs());
        assertEquals(8, r.bits());
        assertTrue(r.sameSetsOnReadBack());
        assertTrue(r.staleRefused());
        assertEquals(r.streamNodes(), r.aliveAfterRestart());
        assertTrue(out.contains("openjdk-17-jdk-headless                  72"), out);
        assertTrue(Files.readString(dir.resolve("deps.dot")).startsWith("digraph"));
        assertEquals(0, EngineSupport.aliveWhenDrained(), "every handle the analysis received was given back");
    }

    /** The natives agree with each other and with a search in Java on the sample's closure. */
    @Test
    void theNativesAgreeOnTheSampleClosure() throws IOException {
        PackageDatabase db = PackageDatabase.read(SAMPLE);
        DependencyAnalysis analysis = new DependencyAnalysis(Engine.start(), db.size());
        int k = analysis.bits();
        try (TupleSet d = analysis.directRelation(db); TupleSet c = analysis.transitiveClosure(d).pairs()) {
            int direct = d.handle();
            int t = c.handle();
            int[] first = {0, k};
            int[] width = {k, k};
            int[] bound = {db.size(), db.size()};
            assertTrue(BDDNativeProxy.doSuperset(t, direct));
            int meet = BDDNativeProxy.doIntersect(t, direct);
            assertEquals(direct, meet);
            // The diagonal x = y, one equality per bit, meets the closure in the packages on a cycle.
            int diagonal = BDDManagerNativeProxy.doGetOne();
            for (int i = 0; i < k; i++) {
                int eq = BDDManagerNativeProxy.doMakeEquals(i, k + i);
                int next = BDDNativeProxy.doIntersect(diagonal, eq);
                EngineSupport.release(eq, i == 0 ? next : diagonal);
                diagonal = next;
            }
            int onCycle = BDDNativeProxy.doIntersect(t, diagonal);
            long cyclic = IntStream.range(0, db.size()).filter(x -> reaches(db, x, x)).count();
            assertEquals(cyclic, BDDNativeProxy.doGetNumOfTuples(onCycle, first, width, bound));
            // Packages with a dependency: exists, relprod with one and existsVar bit by bit agree.
            int users = BDDNativeProxy.doExists(direct, k, k);
            int viaRelprod = BDDNativeProxy.doRelprod(direct, BDDManagerNativeProxy.doGetOne(), k, k);
            int byVariable = BDDNativeProxy.doExistsVar(direct, k);
            for (int v = k + 1; v < 2 * k; v++) {
                int next = BDDNativeProxy.doExistsVar(byVariable, v);
                EngineSupport.release(byVariable);
                byVariable = next;
            }
            assertEquals(users, viaRelprod);
            assertEquals(users, byVariable);
            long withDeps = IntStream.range(0, db.size()).filter(p -> db.dependencies(p).length > 0).count();
            assertEquals(withDeps, BDDNativeProxy.doGetNumOfTuples(users, new int[] {0}, new int[] {k}, new int[] {1 << k}));
            assertTrue(BDDNativeProxy.doTestVars(t, k, k));
            assertFalse(BDDNativeProxy.doTestVars(t, 2 * k, 32766 - 2 * k));
            int rest = BDDNativeProxy.doComplement(t);
            assertEquals((1 << (2 * k)) - 1521, BDDNativeProxy.doGetNumOfTuples(rest, first, width, bound));
            int field = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, k, 0);
            int ofFirst = BDDNativeProxy.doIntersect(t, field);
            int pair = BDDManagerNativeProxy.doMakeSingleTuple(first, width, new int[] {0, db.dependencies(0)[0]});
            assertTrue(BDDNativeProxy.doSuperset(ofFirst, pair));
            assertEquals(IntStream.range(0, db.size()).filter(z -> reaches(db, 0, z)).count(),
                    BDDNativeProxy.doGetNumOfTuples(ofFirst, first, width, bound));
            EngineSupport.release(meet, diagonal, onCycle, users, viaRelprod, byVariable, rest, field, ofFirst, pair);
        }
    }

    /** A path of one or more direct dependencies from x to z. */
    private static boolean reaches(PackageDatabase db, int x, int z) {
        java.util.BitSet seen = new java.util.BitSet();
        java.util.ArrayDeque<Integer> queue = new java.util.ArrayDeque<>(List.of(x));
        while (!queue.isEmpty()) {
            for (int d : db.dependencies(queue.poll())) {
                if (!seen.get(d)) {
                    seen.set(d);
                    queue.add(d);
                }
            }
        }
        return seen.get(z);
    }

    private static String installed(String name, String... fields) {
        return "Package: " + name + "\nStatus: install ok installed\n" + String.join("\n", fields) + "\n\n";
    }

    @Test
    void dependencyEntriesResolveAsDocumented() {
        PackageDatabase db = PackageDatabase.parse(installed("app",
                "Depends: libx (>= 1.0), missing | liby:any, mail-transport-agent,", " app, nowhere", "Pre-Depends: libz")
                + installed("libx") + installed("liby", "Depends: libx") + installed("libz", "Provides: libz-virtual")
                + installed("postfix", "Provides: mail-transport-agent") + installed("exim", "Provides: mail-transport-agent")
                + "Package: gone\nStatus: deinstall ok config-files\nDepends: libx\n");
        // The removed package does not count; names are numbered in order.
        assertEquals(List.of("app", "exim", "libx", "liby", "libz", "postfix"),
                IntStream.range(0, db.size()).mapToObj(db::name).toList());
        // libx, liby (first alternative present), exim (first provider by name), libz; the
        // self-dependency is dropped and "nowhere" is unresolved.
        assertArrayEquals(new int[] {1, 2, 3, 4}, db.dependencies(0));
        assertEquals(1, db.unresolvedEntries());
        assertEquals(5, db.directPairs());
    }
}
