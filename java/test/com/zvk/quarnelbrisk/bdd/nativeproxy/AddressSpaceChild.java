package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.totalNodesAllocated;

import java.util.List;
import java.util.Random;
import java.util.concurrent.Callable;

/**
 * The program that {@code ExhaustionTest} runs in a child virtual machine under an address-space
 * limit. Being a fresh virtual machine, it first checks that calls before start-up are refused. It
 * grows a set of tuples until the engine runs out of records; with "full" it also checks that calls
 * failing at the limit raise "Out of memory" and leave the store as it was, and that after
 * everything is given back the store grows to the same limit again. It prints "name value" lines
 * and ends with "verdict ok" or "verdict failed: reason".
 */
public final class AddressSpaceChild {
    private AddressSpaceChild() {}

    private static final int[] FIRST = {0, 31};
    private static final int[] WIDTH = {31, 31};
    private static final String OUT_OF_MEMORY = "Assert failed: Out of memory";

    private static void expect(boolean ok, String reason) {
        if (!ok) {
            throw new IllegalStateException(reason);
        }
    }

    /** The message the call raised, or "" when it answered (its handle is then given back). */
    private static String messageOf(Callable<Integer> call) throws Exception {
        try {
            BDDNativeProxy.doDecRefCount(call.call());
            return "";
        } catch (NativeBDDException e) {
            return e.getMessage();
        }
    }

    /** A set grown with random 62-bit tuples until an addition fails or {@code limit} tuples are in. */
    private static final class Grown {
        int set = BDDManagerNativeProxy.doGetZero();
        int tuples;
        String stop = "";

        Grown(long seed, int limit) {
            Random rnd = new Random(seed);
            while (tuples < limit && stop.isEmpty()) {
                try {
                    int next = BDDNativeProxy.doAddTuple(set, FIRST, WIDTH, new int[] {rnd.nextInt() & 0x7FFFFFFF,
                        rnd.nextInt() & 0x7FFFFFFF});
                    BDDNativeProxy.doDecRefCount(set);
                    set = next;
                    if (++tuples % 256 == 0) {
                        BDDManagerNativeProxy.doCollectGarbage();
                    }
                } catch (NativeBDDException e) {
                    stop = e.getMessage();
                }
            }
            expect(BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, WIDTH) == tuples, "a grown set is not whole");
        }
    }

    private static void run(boolean full) throws Exception {
        String before = messageOf(BDDManagerNativeProxy::doGetOne);
        expect(before.equals("Assert failed: Engine not initialized"), "a call before start-up: " + before);
        BDDNativeProxy.doDecRefCount(5); // a release before start-up does nothing at all
        // The unique table stops at 2^21 buckets (16 MiB), so the records run out before a doubling would.
        BDDManagerNativeProxy.doInit(1 << 21, 1 << 16, 1000, true);
        Grown g = new Grown(5, Integer.MAX_VALUE);
        final int records = totalNodesAllocated();
        System.out.println("records " + records);
        expect(g.stop.equals(OUT_OF_MEMORY), "growth stopped with [" + g.stop + "]");
        final int baseline = aliveWhenDrained();
        expect(baseline == BDDNativeProxy.doGetNumOfNodes(g.set), "alive at the limit is not the set");
        if (full) {
            // The complement needs a new node for every node of the set; the projection and the
            // stream (larger than this program's Java heap) may or may not fit.
            List<Callable<Integer>> calls = List.of(() -> BDDNativeProxy.doComplement(g.set), () -> BDDNativeProxy.doExists(g.set, 0, 31), () -> {
                StreamSupport.write(g.set);
                return BDDManagerNativeProxy.doGetZero();
            });
            for (int i = 0; i < calls.size(); i++) {
                String m = messageOf(calls.get(i));
                System.out.println("call-" + i + "-at-limit " + (m.isEmpty() ? "answered" : m));
                expect(m.equals(OUT_OF_MEMORY) || (i > 0 && m.isEmpty()), "call " + i + " at the limit: " + m);
                expect(aliveWhenDrained() == baseline && BDDNativeProxy.doGetNumOfNodes(g.set) == baseline,
                        "call " + i + " left nodes behind or changed the set");
            }
            // Given back, the set is freed level by level as its records are reused: at the limit
            // make-node carries out the queued releases before it gives up.
            BDDNativeProxy.doDecRefCount(g.set);
            Grown small = new Grown(6, 20000);
            expect(small.stop.isEmpty(), "growth after the release stopped with [" + small.stop + "]");
            BDDNativeProxy.doDecRefCount(small.set);
            Grown again = new Grown(7, Integer.MAX_VALUE);
            expect(again.stop.equals(OUT_OF_MEMORY) && totalNodesAllocated() == records, "the second growth");
            expect(aliveWhenDrained() == BDDNativeProxy.doGetNumOfNodes(again.set), "alive at the second limit");
        }
    }

    public static void main(String[] args) {
        try {
            run(args.length > 0 && args[0].equals("full"));
            System.out.println("verdict ok");
        } catch (Throwable e) {
            System.out.println("verdict failed: " + e);
            e.printStackTrace(System.out);
        }
    }
}
