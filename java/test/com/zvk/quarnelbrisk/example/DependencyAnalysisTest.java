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
        assertEquals(List.of(159, 465, 0), List.of(db.size(), (int) db.directPairs(), db.unresolvedEntries()));
        ByteArrayOutputStream text = new ByteArrayOutputStream();
        Demo.Report r = Demo.run(db, "sample", dir.resolve("closure.sets"), dir.resolve("deps.dot"),
                new PrintStream(text, true, StandardCharsets.UTF_8));
        String out = text.toString(StandardCharsets.UTF_8);
        // The run's own checks: the closure against a search in Java, the listing, the sets read back,
        // the store after a restart from the file, and a stale set refused.
        assertEquals(List.of(), r.failedChecks(), out);
        assertEquals(1521, r.closurePairs(), out);
        assertTrue(out.contains("openjdk-17-jdk-headless                  72"), out);
        assertTrue(Files.readString(dir.resolve("deps.dot")).startsWith("digraph"));
        assertEquals(0, EngineSupport.aliveWhenDrained(), "every handle the analysis received was given back");
    }
}
