package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * The store under an address-space limit, in a child virtual machine started with
 * {@code ulimit -v} (see {@link AddressSpaceChild}). The engine reserves a quarter of the limit for
 * its records, halving where that cannot be had, so the number of records at the limit is known
 * exactly from the limit and the halvings taken.
 */
class ExhaustionTest {
    private static final int RECORD_BYTES = 20;
    private static final int BLOCK = 1000;

    /** The child's figures: "name value" lines, and the verdict. */
    private static Map<String, String> runChild(long limitKiB, String mode) throws Exception {
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
        Map<String, String> figures = new HashMap<>();
        for (String line : out.split("\n")) {
            int space = line.indexOf(' ');
            if (space > 0) {
                figures.put(line.substring(0, space), line.substring(space + 1).strip());
            }
        }
        assertEquals("ok", figures.get("verdict"), out);
        return figures;
    }

    /** Records carved at the limit when the range is {@code bytes} long: whole blocks after record 0. */
    private static long recordsAtTheLimit(long bytes) {
        long capacity = bytes / RECORD_BYTES;
        return (capacity - 1) / BLOCK * BLOCK;
    }

    private static long pageRound(long bytes) {
        return (bytes + 4095) / 4096 * 4096;
    }

    /** The records at the limit after 0, 1, 2, ... halvings of the first reservation. */
    private static List<Long> candidates(long limitKiB) {
        List<Long> out = new ArrayList<>();
        for (long bytes = pageRound(limitKiB * 1024 / 4); bytes >= 1 << 20; bytes = pageRound(bytes / 2)) {
            out.add(recordsAtTheLimit(bytes));
        }
        return out;
    }

    @Test
    void theRecordsRunOutAtAQuarterOfTheLimitAndHugeStreamHeadersAreRefusedThere() throws Exception {
        long limitKiB = 520_000;
        Map<String, String> f = runChild(limitKiB, "reach");
        assertEquals(candidates(limitKiB).get(0), Long.parseLong(f.get("records")));
    }

    @Test
    void whereAQuarterCannotBeHadASmallerRangeServesAndEveryFailureLeavesTheStoreWhole() throws Exception {
        // The virtual machine itself takes about 330 MB here, so a quarter of this limit does not fit.
        long limitKiB = 420_000;
        Map<String, String> f = runChild(limitKiB, "full");
        long records = Long.parseLong(f.get("records"));
        List<Long> c = candidates(limitKiB);
        assertTrue(c.indexOf(records) >= 1, "records " + records + " is not a halved reservation of " + c);
        assertEquals(f.get("records"), f.get("records-again"));
        assertEquals("Assert failed: Out of memory", f.get("projection-at-limit"));
    }
}
