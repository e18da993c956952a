package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.FutureTask;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/**
 * Single-tuple chains over every usable variable, on real thread stacks. A chain's twin differs
 * only in the last variable, so a binary operation on the two recurses all the way down; their
 * union is the chain with the last variable free. On a small stack each operation answers right or
 * raises "Stack exhausted" and the engine goes on; on a large stack every operation answers right.
 */
class DeepDiagramTest {
    private interface Check {
        boolean answersRight(int depth, int[] first, int[] values, int chain, int twin, int free) throws Exception;
    }

    private static final Map<String, Check> OPS = new LinkedHashMap<>();

    static {
        OPS.put("count", (d, f, v, chain, twin, free) -> BDDNativeProxy.doGetNumOfTuples(chain, f, ones(d), ones(d)) == 1);
        OPS.put("complement", (d, f, v, chain, twin, free) ->
                BDDNativeProxy.doComplement(BDDNativeProxy.doComplement(chain)) == chain);
        OPS.put("unite", (d, f, v, chain, twin, free) -> BDDNativeProxy.doUnite(chain, twin) == free);
        OPS.put("relprod", (d, f, v, chain, twin, free) -> BDDNativeProxy.doRelprod(chain, free, d - 1, 1) == free);
        OPS.put("rename", (d, f, v, chain, twin, free) -> BDDNativeProxy.doRename(chain, 0, d, 1)
                == BDDManagerNativeProxy.doMakeSingleTuple(IntStream.range(1, d + 1).toArray(), ones(d), v));
        OPS.put("serialize", (d, f, v, chain, twin, free) ->
                Arrays.equals(StreamSupport.read(StreamSupport.write(chain, twin)), new int[] {chain, twin}));
    }

    private static int[] ones(int d) {
        return IntStream.range(0, d).map(i -> 1).toArray();
    }

    /** Every operation on chains over variables 0 .. depth-1; returns those that raised "Stack exhausted". */
    private static Set<String> exhausted(int depth) throws Exception {
        int[] first = IntStream.range(0, depth).toArray();
        int[] values = IntStream.range(0, depth).map(v -> v & 1).toArray();
        int chain = BDDManagerNativeProxy.doMakeSingleTuple(first, ones(depth), values);
        int[] twinValues = values.clone();
        twinValues[depth - 1] ^= 1;
        int twin = BDDManagerNativeProxy.doMakeSingleTuple(first, ones(depth), twinValues);
        int free = BDDManagerNativeProxy.doMakeSingleTuple(Arrays.copyOf(first, depth - 1), ones(depth), values);
        Set<String> out = new TreeSet<>();
        for (Map.Entry<String, Check> op : OPS.entrySet()) {
            try {
                assertTrue(op.getValue().answersRight(depth, first, values, chain, twin, free), op.getKey());
            } catch (NativeBDDException e) {
                assertEquals("Assert failed: Stack exhausted", e.getMessage(), op.getKey());
                out.add(op.getKey());
            }
        }
        return out;
    }

    /** The operations exhausted at full depth (every variable but 32765) on a thread with this stack. */
    private static Set<String> onThread(long stackBytes) throws Exception {
        FutureTask<Set<String>> task = new FutureTask<>(() -> {
            EngineSupport.freshEngine();
            Set<String> full = exhausted(32765);
            assertEquals(Set.of(), exhausted(100), "shallow chains afterwards");
            return full;
        });
        new Thread(null, task, "deep", stackBytes).start();
        return task.get();
    }

    @Test
    void onSmallStacksOperationsAnswerOrExhaustCleanlyAndALargeStackAnswersEverything() throws Exception {
        Set<String> small = onThread(256 << 10);
        assertTrue(small.containsAll(Set.of("complement", "unite", "rename")), small.toString());
        assertFalse(small.contains("serialize"), "the walks keep their stack on the heap");
        assertEquals(Set.of(), onThread(512L << 20), "a 512 MB stack is enough for all");
    }
}
