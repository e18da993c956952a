package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeFalse;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * The store under an address-space limit, in a child virtual machine started with
 * {@code ulimit -v} (see {@link AddressSpaceChild}). The engine reserves a quarter of the limit for
 * its records (20 bytes each, carved in blocks of 1000 after record 0), halving where that cannot
 * be had, so the number of records at the limit follows from the limit and the halvings taken.
 */
class ExhaustionTest {
    /** The records the child reached. */
    private static long runChild(long limitKiB, String mode) throws Exception {
        String java = System.getProperty("java.home") + "/bin/java";
        String classpath = System.getProperty("engine.test.classpath", System.getProperty("java.class.path"));
        String command = "ulimit -v " + limitKiB + "; exec '" + java + "' -Xcheck:jni -Xmx48m -Xss1m"
                + " -XX:ReservedCodeCacheSize=16m -XX:MaxMetaspaceSize=48m -XX:CompressedClassSpaceSize=16m"
                + " -XX:+UseSerialGC -XX:TieredStopAtLevel=1"
                + " '-Djava.library.path=" + System.getProperty("java.library.path") + "'"
                + " -cp '" + classpath + "' " + AddressSpaceChild.class.getName() + " " + mode;
        ProcessBuilder pb = new ProcessBuilder("sh", "-c", command).redirectErrorStream(true);
        // One malloc arena: the virtual machine's own reservations then fit in the limit.
        pb.environment().put("MALLOC_ARENA_MAX", "1");
        Process p = pb.start();
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(10, TimeUnit.MINUTES));
        System.out.println("Child under ulimit -v " + limitKiB + " (" + mode + "):\n" + out.strip());
        assertEquals(0, p.exitValue(), out);
        assertFalse(out.contains("WARNING in native method") || out.contains("FATAL ERROR"), out);
        assertTrue(out.strip().endsWith("verdict ok"), out);
        return Long.parseLong(out.lines().filter(l -> l.startsWith("records ")).findFirst().orElseThrow().substring(8));
    }

    private static long pageRound(long bytes) {
        return (bytes + 4095) / 4096 * 4096;
    }

    /** The records at the limit after 0, 1, 2, ... halvings of the first, page-rounded reservation. */
    private static List<Long> candidates(long limitKiB) {
        List<Long> out = new ArrayList<>();
        for (long bytes = pageRound(limitKiB * 256); bytes >= 1 << 20; bytes = pageRound(bytes / 2)) {
            out.add((bytes / 20 - 1) / 1000 * 1000);
        }
        return out;
    }

    @Test
    void theRecordsRunOutAtAQuarterOfTheLimitOrAHalvedRangeAndEveryFailureLeavesTheStoreWhole() throws Exception {
        assumeFalse(Boolean.getBoolean("engine.test.sanitized"), "the sanitizer's shadow memory needs no address limit");
        assertEquals(candidates(520_000).get(0), runChild(520_000, "reach"));
        // The virtual machine itself takes about 330 MB here, so a quarter of this limit does not fit.
        long records = runChild(420_000, "full");
        assertTrue(candidates(420_000).indexOf(records) >= 1, "records " + records + " is not a halved reservation");
    }
}
