package com.zvk.quarnelbrisk.example;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class DependencyAnalysisTest {
    @Test
    void theAnalysisOfTheSampleChecksOutAndGivesEveryHandleBack(@TempDir Path dir) throws IOException {
        PackageDatabase db = PackageDatabase.read(Path.of(System.getProperty("engine.test.resources"),
                "dpkg-status-sample.gz"));
        // Figures of an independent reading of the sample with the same resolution rules.
        assertEquals(List.of(159, 465, 0), List.of(db.size(), (int) db.directPairs(), db.unresolvedEntries()));
        ByteArrayOutputStream text = new ByteArrayOutputStream();
        Demo.Report r = Demo.run(db, "sample", dir.resolve("closure.diagrams"),
                new PrintStream(text, true, StandardCharsets.UTF_8));
        String out = text.toString(StandardCharsets.UTF_8);
        assertEquals(List.of(), r.failedChecks(), out);
        assertEquals(List.of(1521, 1521, 8), List.of(r.closurePairs(), (int) r.bfsPairs(), r.bits()), out);
        assertTrue(r.sameHandlesOnReadBack() && r.streamNodes() == r.aliveAfterRestart(), out);
        assertTrue(out.contains("openjdk-17-jdk-headless                  72"), out);
        assertEquals(0, EngineSupport.aliveWhenDrained(), "every handle the analysis received was given back");
    }
}
