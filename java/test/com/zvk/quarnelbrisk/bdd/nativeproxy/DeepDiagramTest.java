package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.Vector;
import java.util.concurrent.FutureTask;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/**
 * Single-tuple chains over every usable variable, and every operation whose work grows with the
 * depth of a diagram. A chain's twin differs only in the last variable, so a binary operation on the
 * two recurses all the way down; their union is the chain with the last variable free. On a thread
 * with little stack each operation answers right or raises "Stack exhausted", and the engine goes
 * on; on a thread with a large stack every operation answers right.
 */
class DeepDiagramTest {
    /** Every variable from 0 to 32764, leaving 32765 free for a rename by one. */
    private static final int MAX_DEPTH = 32765;

    /** A chain over variables 0 .. depth-1, one field of one bit each; its twin; the two joined. */
    private record Chains(int depth, int[] first, int[] width, int[] values, int[] twinValues, int chain, int twin,
            int free) {
        static Chains of(int depth) {
            int[] first = IntStream.range(0, depth).toArray();
            int[] width = IntStream.range(0, depth).map(v -> 1).toArray();
            int[] values = IntStream.range(0, depth).map(v -> v & 1).toArray();
            int[] twinValues = values.clone();
            twinValues[depth - 1] ^= 1;
            return new Chains(depth, first, width, values, twinValues,
                    BDDManagerNativeProxy.doMakeSingleTuple(first, width, values),
                    BDDManagerNativeProxy.doMakeSingleTuple(first, width, twinValues),
                    BDDManagerNativeProxy.doMakeSingleTuple(Arrays.copyOf(first, depth - 1), width, values));
        }
    }

    private interface Check {
        boolean answersRight(Chains c) throws Exception;
    }

    private static final Map<String, Check> OPS = new LinkedHashMap<>();

    static {
        OPS.put("count", c -> BDDNativeProxy.doGetNumOfTuples(c.chain(), c.first(), c.width(), c.width()) == 1);
        OPS.put("list", c -> {
            int[] bound = Arrays.stream(c.width()).map(w -> 2).toArray();
            Vector<?> tuples = (Vector<?>) BDDNativeProxy.doGetNTuples(c.chain(), c.first(), c.width(), bound, -1);
            return tuples.size() == 1 && Arrays.equals((int[]) tuples.get(0), c.values());
        });
        OPS.put("complement", c -> {
            int complement = BDDNativeProxy.doComplement(c.chain());
            return BDDNativeProxy.doGetNumOfNodes(complement) == c.depth()
                    && BDDNativeProxy.doComplement(complement) == c.chain();
        });
        OPS.put("unite", c -> BDDNativeProxy.doUnite(c.chain(), c.twin()) == c.free());
        OPS.put("intersect", c -> BDDNativeProxy.doIntersect(c.chain(), c.twin()) == BDDManagerNativeProxy.doGetZero());
        OPS.put("superset", c -> BDDNativeProxy.doSuperset(c.free(), c.chain())
                && !BDDNativeProxy.doSuperset(c.chain(), c.twin()));
        OPS.put("existsVar", c -> BDDNativeProxy.doExistsVar(c.chain(), c.depth() - 1) == c.free());
        OPS.put("exists", c -> BDDNativeProxy.doExists(c.chain(), c.depth() - 1, 1) == c.free());
        OPS.put("relprod", c -> BDDNativeProxy.doRelprod(c.chain(), c.free(), c.depth() - 1, 1) == c.free());
        OPS.put("rename", c -> BDDNativeProxy.doRename(c.chain(), 0, c.depth(), 1) == BDDManagerNativeProxy
                .doMakeSingleTuple(Arrays.stream(c.first()).map(v -> v + 1).toArray(), c.width(), c.values()));
        OPS.put("addTuple", c -> BDDNativeProxy.doAddTuple(c.chain(), c.first(), c.width(), c.twinValues()) == c.free());
        OPS.put("serialize", c -> {
            int[] stream = StreamSupport.write(c.chain(), c.twin());
            return stream[1] == 2 + 2 * c.depth()
                    && Arrays.equals(StreamSupport.read(stream), new int[] {c.chain(), c.twin()});
        });
    }

    /** Runs every operation at full depth; returns those that raised "Stack exhausted". */
    private static Set<String> exhaustedAtFullDepth() throws Exception {
        freshEngine();
        Set<String> exhausted = new TreeSet<>();
        Chains deep = Chains.of(MAX_DEPTH);
        for (Map.Entry<String, Check> op : OPS.entrySet()) {
            try {
                assertTrue(op.getValue().answersRight(deep), op.getKey() + " at full depth");
            } catch (NativeBDDException e) {
                assertEquals("Assert failed: Stack exhausted", e.getMessage(), op.getKey());
                exhausted.add(op.getKey());
            }
            assertTrue(op.getValue().answersRight(Chains.of(100)), op.getKey() + " at depth 100 afterwards");
        }
        return exhausted;
    }

    /** The operations exhausted at full depth on a new thread with this stack size. */
    private static Set<String> onThread(long stackBytes) throws Exception {
        FutureTask<Set<String>> task = new FutureTask<>(DeepDiagramTest::exhaustedAtFullDepth);
        new Thread(null, task, "deep", stackBytes).start();
        return task.get();
    }

    @Test
    void onSmallStacksOperationsAnswerOrExhaustCleanlyAndALargeStackAnswersEverything() throws Exception {
        // Java's default stack: the walks keep their stack on the heap, so serialization always answers.
        Set<String> onDefault = exhaustedAtFullDepth();
        System.out.println("Full depth on the default stack, exhausted: " + onDefault);
        assertFalse(onDefault.contains("serialize"), onDefault.toString());
        assertTrue(onThread(256 << 10).containsAll(List.of("complement", "unite", "rename")));
        assertEquals(Set.of(), onThread(512L << 20), "a 512 MB stack is enough for all");
    }
}
