package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.totalNodesAllocated;

import java.util.Random;

/**
 * The program that {@code ExhaustionTest} runs in a child virtual machine under an address-space
 * limit. It grows a set of tuples until the engine runs out of records; with "full" it also checks
 * that calls failing at the limit raise "Out of memory" and leave the store exactly as it was, and
 * that after everything is given back the store grows to the same limit again. It ends by feeding
 * the reader headers that claim more nodes than could ever be allocated. It prints "name value"
 * lines and ends with "verdict ok" or "verdict failed: reason". Being a fresh virtual machine, it
 * first checks that calls before start-up are refused.
 */
public final class AddressSpaceChild {
    private AddressSpaceChild() {}

    private static final int[] FIRST = {0, 31};
    private static final int[] WIDTH = {31, 31};
    private static final int[] BOUND = {Integer.MAX_VALUE, Integer.MAX_VALUE};
    private static final String OUT_OF_MEMORY = "Assert failed: Out of memory";

    private static void expect(boolean ok, String reason) {
        if (!ok) {
            throw new IllegalStateException(reason);
        }
    }

    private interface HandleCall {
        int run() throws Exception;
    }

    /** The message the call raised, or "" when it answered (its handle is then given back). */
    private static String messageOf(HandleCall call) throws Exception {
        try {
            BDDNativeProxy.doDecRefCount(call.run());
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

        Grown(Random rnd, int limit) {
            while (tuples < limit && stop.isEmpty()) {
                try {
                    int[] t = {rnd.nextInt() & 0x7FFFFFFF, rnd.nextInt() & 0x7FFFFFFF};
                    int next = BDDNativeProxy.doAddTuple(set, FIRST, WIDTH, t);
                    BDDNativeProxy.doDecRefCount(set);
                    set = next;
                    tuples++;
                } catch (NativeBDDException e) {
                    stop = e.getMessage();
                }
                if (tuples % 256 == 0) {
                    BDDManagerNativeProxy.doCollectGarbage();
                }
            }
        }

        boolean whole() {
            return BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, BOUND) == tuples;
        }
    }

    private static void run(boolean full) throws Exception {
        String before = messageOf(BDDManagerNativeProxy::doGetOne);
        expect(before.equals("Assert failed: Engine not initialized"), "a call before start-up: " + before);
        BDDNativeProxy.doDecRefCount(5); // a release before start-up does nothing at all
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 16, 1000, true);
        Grown g = new Grown(new Random(5), Integer.MAX_VALUE);
        final int records = totalNodesAllocated();
        System.out.println("records " + records);
        expect(g.stop.equals(OUT_OF_MEMORY) && g.whole(), "growth stopped with [" + g.stop + "], whole " + g.whole());
        final int baseline = aliveWhenDrained();
        expect(baseline == BDDNativeProxy.doGetNumOfNodes(g.set), "alive at the limit is not the set");
        if (full) {
            // The complement needs a new node for every node of the set; the projection and the
            // stream (larger than this program's Java heap) may or may not fit.
            HandleCall[] calls = {() -> BDDNativeProxy.doComplement(g.set), () -> BDDNativeProxy.doExists(g.set, 0, 31), () -> {
                StreamSupport.write(g.set);
                return BDDManagerNativeProxy.doGetZero();
            }};
            for (int i = 0; i < calls.length; i++) {
                String m = messageOf(calls[i]);
                System.out.println("call-" + i + "-at-limit " + (m.isEmpty() ? "answered" : m));
                expect(m.equals(OUT_OF_MEMORY) || (i > 0 && m.isEmpty()), "call " + i + " at the limit: " + m);
                expect(aliveWhenDrained() == baseline, "call " + i + " left nodes behind");
                expect(BDDNativeProxy.doGetNumOfNodes(g.set) == baseline && g.whole(), "call " + i + " changed the set");
            }
            // Given back, the set is freed level by level as its records are reused: at the limit
            // make-node carries out the queued releases before it gives up.
            BDDNativeProxy.doDecRefCount(g.set);
            Grown small = new Grown(new Random(6), 20000);
            expect(small.stop.isEmpty() && small.whole(), "growth after the release stopped with [" + small.stop + "]");
            BDDNativeProxy.doDecRefCount(small.set);
            // Growing again reuses every record, and the drained store holds exactly the new set.
            Grown again = new Grown(new Random(7), Integer.MAX_VALUE);
            expect(again.stop.equals(OUT_OF_MEMORY) && again.whole() && totalNodesAllocated() == records, "the second growth");
            expect(aliveWhenDrained() == BDDNativeProxy.doGetNumOfNodes(again.set), "alive at the second limit");
        }
        // Headers that claim more than could ever be allocated are refused by their length alone.
        int big = 1 << 30;
        for (int[] s : new int[][] {{1, big, 2, 0, 0, 1, 2}, {Integer.MAX_VALUE, Integer.MAX_VALUE},
                {-big, 3, 2, 0, 0, 1, 2}}) {
            String m = messageOf(() -> StreamSupport.read(s)[0]);
            expect(m.equals("Assert failed: Malformed diagram stream"), "header " + s[0] + ", " + s[1] + ": " + m);
        }
        int[] roots = StreamSupport.read(new int[] {1, 3, 2, 31, 0, 1, 2});
        expect(BDDNativeProxy.doGetNumOfNodes(roots[0]) == 1, "a small stream at the limit");
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
