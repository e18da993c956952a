package com.zvk.quarnelbrisk.example;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
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
        assertTrue(out.contains("1521 = 1521: agrees"), out);
        assertTrue(out.contains("openjdk-17-jdk-headless                  72"), out);
        assertTrue(Files.size(dir.resolve("closure.diagrams")) > 0);
        assertEquals(0, EngineSupport.aliveWhenDrained(), "every handle the analysis received was given back");
    }

    @Test
    void dependencyEntriesResolveAsDocumented() {
        String status = String.join("\n",
                "Package: app", "Status: install ok installed",
                "Depends: libx (>= 1.0), missing | liby:any, mail-transport-agent,",
                " app, nowhere", "Pre-Depends: libz",
                "",
                "Package: libx", "Status: install ok installed",
                "",
                "Package: liby", "Status: install ok installed", "Depends: libx",
                "",
                "Package: libz", "Status: install ok installed", "Provides: libz-virtual",
                "",
                "Package: postfix", "Status: install ok installed", "Provides: mail-transport-agent",
                "",
                "Package: exim", "Status: install ok installed", "Provides: mail-transport-agent",
                "",
                "Package: gone", "Status: deinstall ok config-files", "Depends: libx",
                "");
        PackageDatabase db = PackageDatabase.parse(status);
        assertEquals(6, db.size(), "the removed package does not count");
        int app = 0;
        assertEquals("app", db.name(app));
        // libx, liby (first alternative present), exim (first provider by name), libz; the
        // self-dependency is dropped and "nowhere" is unresolved.
        assertArrayEquals(new int[] {1, 2, 3, 4}, db.dependencies(app));
        assertEquals(List.of("app", "exim", "libx", "liby", "libz", "postfix"),
                java.util.stream.IntStream.range(0, 6).mapToObj(db::name).toList());
        assertEquals(1, db.unresolvedEntries());
        assertEquals(5, db.directPairs());
    }
}
