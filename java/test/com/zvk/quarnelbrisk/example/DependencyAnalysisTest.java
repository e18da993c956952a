package com.zvk.quarnelbrisk.example;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
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
        Demo.Report r = Demo.run(db, "sample", dir.resolve("closure.diagrams"),
                new PrintStream(text, true, StandardCharsets.UTF_8));
        String out = text.toString(StandardCharsets.UTF_8);
        assertEquals(List.of(), r.failedChecks(), out);
        assertEquals(1521, r.closurePairs(), out);
        assertEquals(1521, r.bfsPairs());
        assertEquals(8, r.bits());
        assertTrue(r.sameHandlesOnReadBack());
        assertEquals(r.streamNodes(), r.aliveAfterRestart());
        assertTrue(out.contains("openjdk-17-jdk-headless                  72"), out);
        assertTrue(Files.size(dir.resolve("closure.diagrams")) > 0);
        assertEquals(0, EngineSupport.aliveWhenDrained(), "every handle the analysis received was given back");
    }
}
