package com.zvk.quarnelbrisk.example;

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
        assertEquals(List.of(159, 465, 0), List.of(db.size(), (int) db.directPairs(), db.unresolvedEntries()));
        ByteArrayOutputStream text = new ByteArrayOutputStream();
        Demo.Report r = Demo.run(db, "sample", dir.resolve("closure.sets"), dir.resolve("deps.dot"),
                new PrintStream(text, true, StandardCharsets.UTF_8));
        String out = text.toString(StandardCharsets.UTF_8);
        assertEquals(List.of(), r.failedChecks(), out);
        assertEquals(List.of(1521, 1521, 8), List.of((int) r.closurePairs(), (int) r.bfsPairs(), r.bits()), out);
        assertTrue(r.sameSetsOnReadBack() && r.staleRefused() && r.streamNodes() == r.aliveAfterRestart(), out);
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
}
