package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.read;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.text;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.write;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Random;
import java.util.TreeMap;
import org.junit.jupiter.api.Test;

/**
 * Streams made from valid ones by changing one int, truncating, lengthening or swapping two
 * records. The plain model of the stream says which are still valid; the engine must refuse exactly
 * the others, read the valid ones as the diagrams they describe, and keep nothing of either.
 */
class MalformedStreamTest {
    @Test
    void everyBrokenStreamIsRefusedAndEveryValidOneReadFaithfully() throws Exception {
        EngineSupport.freshEngine();
        Map<String, Integer> outcomes = new TreeMap<>();
        for (int seed = 1; seed <= 24; seed++) {
            Random rnd = new Random(seed);
            StreamModel m = new StreamModel();
            int[] valid = m.encode(m.randomRoots(rnd, rnd.nextInt(3), 5 + rnd.nextInt(8), 1 + rnd.nextInt(4), 1 + rnd.nextInt(4)));
            // With the originals alive the reads share their nodes; without, they build afresh.
            int[] originals = seed % 2 == 0 ? read(valid) : new int[0];
            int baseline = aliveWhenDrained();
            for (int[] s : mutationsOf(valid).values()) {
                String problem = StreamModel.problem(s);
                int[] roots;
                try {
                    roots = read(s);
                } catch (NativeBDDException e) {
                    assertEquals("Assert failed: Malformed diagram stream", e.getMessage());
                    assertNotNull(problem, "refused a valid stream " + text(s));
                    outcomes.merge("refused (" + problem + ")", 1, Integer::sum);
                    continue;
                }
                assertNull(problem, "read a stream that breaks the " + problem + " rule: " + text(s));
                assertArrayEquals(m.decode(s), m.decode(write(roots)), text(s));
                release(roots);
                outcomes.merge("read as valid", 1, Integer::sum);
            }
            assertEquals(baseline, aliveWhenDrained(), "seed " + seed);
            release(originals);
        }
        assertEquals(0, aliveWhenDrained());
        int tried = outcomes.values().stream().mapToInt(Integer::intValue).sum();
        System.out.println("Malformed diagram streams tried: " + tried + " " + outcomes);
        // Every rule was broken at least once, and some changes left a valid stream.
        assertEquals(8, outcomes.size(), outcomes.toString());
    }

    /** Distinct streams other than {@code valid}, keyed by their text. */
    private static Map<String, int[]> mutationsOf(int[] valid) {
        Map<String, int[]> out = new LinkedHashMap<>();
        int n = valid[1];
        for (int i = 0; i < valid.length; i++) {
            int v = valid[i];
            for (int value : new int[] {v - 1, v + 1, -1, 0, 1, 2, n - 1, n, 32765, 32766, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                int[] s = valid.clone();
                s[i] = value;
                out.put(text(s), s);
            }
        }
        for (int len = 0; len <= valid.length + 2; len++) {
            int[] s = Arrays.copyOf(valid, len);
            out.put(text(s), s);
        }
        int rootsAt = 4 * n - 6;
        for (int a = 2; a < rootsAt; a += 4) {
            for (int b = a + 4; b < rootsAt; b += 4) {
                int[] s = valid.clone();
                System.arraycopy(valid, a, s, b, 4);
                System.arraycopy(valid, b, s, a, 4);
                out.put(text(s), s);
            }
        }
        out.remove(text(valid));
        return out;
    }
}
