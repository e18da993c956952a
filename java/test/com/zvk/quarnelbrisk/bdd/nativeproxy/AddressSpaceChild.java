package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.totalNodesAllocated;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.Random;
import java.util.Set;

/**
 * The program that {@code ExhaustionTest} runs in a child virtual machine under an address-space
 * limit. It grows a set of tuples until the engine runs out of records, checks that every failure
 * is "Out of memory" and leaves the store exactly as it was, gives everything back, computes
 * again, grows to the limit once more, and feeds the reader streams whose header claims more nodes
 * than could ever be allocated. It prints its figures as "name value" lines and ends with
 * "verdict ok" or "verdict failed: reason".
 */
public final class AddressSpaceChild {
    private AddressSpaceChild() {}

    private static final long START = System.nanoTime();

    private static final int[] FIRST = {0, 31};
    private static final int[] WIDTH = {31, 31};
    private static final int[] BOUND = {Integer.MAX_VALUE, Integer.MAX_VALUE};
    private static final String OUT_OF_MEMORY = "Assert failed: Out of memory";
    private static final String MALFORMED = "Assert failed: Malformed diagram stream";
    /** Throwaway nodes sit on variables the tuples never use. */
    private static final int THROWAWAY_VAR = 62;

    private static final class Failed extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Failed(String reason) {
            super(reason);
        }
    }

    private static void expect(boolean ok, String reason) {
        if (!ok) {
            throw new Failed(reason);
        }
    }

    private static String messageOf(Runnable call) {
        try {
            call.run();
            return "";
        } catch (NativeBDDException e) {
            return e.getMessage();
        }
    }

    /** The set grown so far and the tuples in it. */
    private static final class Grown {
        int set = BDDManagerNativeProxy.doGetZero();
        final Set<Long> tuples = new HashSet<>();
        String stop = "";

        /** Adds random tuples until an addition fails (or {@code limit} are in). */
        Grown grow(Random rnd, int limit) {
            while (tuples.size() < limit) {
                int a = rnd.nextInt() & 0x7FFFFFFF;
                int b = rnd.nextInt() & 0x7FFFFFFF;
                int next;
                try {
                    next = BDDNativeProxy.doAddTuple(set, FIRST, WIDTH, new int[] {a, b});
                } catch (NativeBDDException e) {
                    stop = e.getMessage();
                    return this;
                }
                BDDNativeProxy.doDecRefCount(set);
                set = next;
                tuples.add(((long) a << 31) | b);
                if (tuples.size() % 256 == 0) {
                    BDDManagerNativeProxy.doCollectGarbage();
                }
            }
            return this;
        }

        int count() {
            return BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, BOUND);
        }
    }

    /**
     * Alive nodes once every released diagram is freed down to its last node, using only the free
     * records there are (a store at its limit has no room for another block): each round reuses
     * as many throwaway nodes as there are free records, so that the children that freed records
     * still hold are released, and gives the throwaways back. A round that frees nothing has reused
     * every free record (the collections within it found nothing to free): the store is drained.
     */
    static int aliveWhenDrainedInPlace() {
        final int records = totalNodesAllocated();
        int previous = Integer.MAX_VALUE;
        BDDManagerNativeProxy.doCollectGarbage();
        int current = aliveNodes();
        while (current < previous) {
            previous = current;
            int free = totalNodesAllocated() - 2 - aliveNodes();
            expect(free <= 2 * (32766 - THROWAWAY_VAR), "too many free records to drain: " + free);
            int[] held = new int[free];
            for (int i = 0; i < free; i++) {
                held[i] = BDDManagerNativeProxy.doMakeSingleTupleUnary(THROWAWAY_VAR + (i >> 1), 1, i & 1);
            }
            expect(totalNodesAllocated() == records, "the throwaways took free records only");
            BDDManagerNativeProxy.doCollectGarbage();
            int withThrowaways = aliveNodes();
            for (int h : held) {
                BDDNativeProxy.doDecRefCount(h);
            }
            BDDManagerNativeProxy.doCollectGarbage();
            current = aliveNodes();
            expect(withThrowaways - free == current, "the throwaways were freed entirely");
        }
        return current;
    }

    private static int[] read(int[] stream) throws Exception {
        return StreamSupport.read(stream);
    }

    private static void run(boolean full) throws Exception {
        System.out.println("vmsize-kib " + vmSizeKiB());
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 16, 1000, true);

        Grown g = new Grown().grow(new Random(5), Integer.MAX_VALUE);
        final int records = totalNodesAllocated();
        System.out.println("records " + records);
        System.out.println("tuples " + g.tuples.size());
        expect(g.stop.equals(OUT_OF_MEMORY), "growth stopped with [" + g.stop + "]");
        expect(g.count() == g.tuples.size(), "the set lost a tuple at the failure");
        // At the limit every record is alive or waits for its reuse; drained, the store holds the set.
        final int baseline = aliveWhenDrainedInPlace();
        expect(baseline == BDDNativeProxy.doGetNumOfNodes(g.set), "alive at the limit is not the set");
        final int set = g.set;
        if (full) {
            failWholeAtTheLimit(set, baseline, g);
            // Give everything back and compute again.
            BDDNativeProxy.doDecRefCount(set);
            // The set is freed level by level as its records are reused: at the limit make-node
            // carries out the queued releases of the level before it gives up.
            Grown small = new Grown().grow(new Random(6), 20000);
            expect(small.stop.isEmpty() && small.count() == small.tuples.size(),
                    "growth afterwards stopped at " + small.tuples.size() + " with [" + small.stop + "]");
            Grown tiny = new Grown().grow(new Random(8), 50);
            BDDManagerNativeProxy.doCollectGarbage();
            int c = BDDNativeProxy.doComplement(tiny.set);
            expect(BDDNativeProxy.doIntersect(c, tiny.set) == BDDManagerNativeProxy.doGetZero()
                    && BDDNativeProxy.doUnite(c, tiny.set) == BDDManagerNativeProxy.doGetOne(), "complement afterwards");
            BDDNativeProxy.doDecRefCount(c);
            BDDNativeProxy.doDecRefCount(tiny.set);
            BDDNativeProxy.doDecRefCount(small.set);

            // Growing again reuses every record; at the limit the drained store holds exactly the new
            // set, so nothing of the first round (the failed calls included) was kept.
            Grown again = new Grown().grow(new Random(7), Integer.MAX_VALUE);
            System.out.println("records-again " + totalNodesAllocated());
            System.out.println("tuples-again " + again.tuples.size());
            expect(again.stop.equals(OUT_OF_MEMORY) && totalNodesAllocated() == records, "the second growth");
            expect(again.count() == again.tuples.size(), "the second set");
            expect(aliveWhenDrainedInPlace() == BDDNativeProxy.doGetNumOfNodes(again.set),
                    "alive at the second limit is not the second set");
        }

        // Headers that claim more than could ever be allocated are refused by their length alone,
        // here where gigabytes could not be had.
        int big = 1 << 30;
        for (int[] s : new int[][] {{1, big, 2, 0, 0, 1, 2}, {1, big}, {Integer.MAX_VALUE, Integer.MAX_VALUE},
                {big, 2}, {-big, 3, 2, 0, 0, 1, 2}}) {
            String m;
            try {
                read(s);
                m = "";
            } catch (NativeBDDException e) {
                m = e.getMessage();
            }
            expect(m.equals(MALFORMED), "stream with header " + s[0] + ", " + s[1] + " gave [" + m + "]");
        }
        // A well-formed stream is read at the limit: its one node is there already or takes a free record.
        int[] roots = read(new int[] {1, 3, 2, 31, 0, 1, 2});
        expect(roots.length == 1 && BDDNativeProxy.doGetNumOfNodes(roots[0]) == 1, "a small stream at the limit");
        System.out.println("ms " + (System.nanoTime() - START) / 1000000);
    }

    /** Calls that need more records than are left fail whole: nothing half-built stays. */
    private static void failWholeAtTheLimit(int set, int baseline, Grown g) throws Exception {
        expect(messageOf(() -> BDDNativeProxy.doComplement(set)).equals(OUT_OF_MEMORY), "complement at the limit");
        expect(aliveWhenDrainedInPlace() == baseline, "the failed complement left nodes behind");
        int[] projected = new int[1];
        String projection = messageOf(() -> projected[0] = BDDNativeProxy.doExists(set, 0, 31));
        System.out.println("projection-at-limit " + (projection.isEmpty() ? "answered" : projection));
        if (projection.isEmpty()) {
            BDDNativeProxy.doDecRefCount(projected[0]);
        }
        expect(projection.isEmpty() || projection.equals(OUT_OF_MEMORY), "projection at the limit: " + projection);
        expect(aliveWhenDrainedInPlace() == baseline, "the projection left nodes behind");
        // The stream of the whole set is larger than the Java heap of this program.
        String written = messageOf(() -> {
            try {
                StreamSupport.write(set);
            } catch (java.io.IOException e) {
                throw new Failed("write: " + e);
            }
        });
        System.out.println("serialize-at-limit " + (written.isEmpty() ? "written" : written));
        expect(written.isEmpty() || written.equals(OUT_OF_MEMORY), "serialize at the limit: " + written);
        expect(BDDNativeProxy.doGetNumOfNodes(set) == baseline, "marks left behind");
        expect(g.count() == g.tuples.size(), "the set changed");
        // Calls that need no new node answer at the limit.
        expect(BDDNativeProxy.doTestVars(set, 31, 31) && BDDNativeProxy.doSuperset(set, set), "a call after the failures");
    }

    private static long vmSizeKiB() throws Exception {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmSize:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        return -1;
    }

    public static void main(String[] args) throws Exception {
        try {
            run(args.length > 0 && args[0].equals("full"));
            System.out.println("verdict ok");
        } catch (Failed e) {
            System.out.println("verdict failed: " + e.getMessage());
        } catch (Throwable e) {
            System.out.println("verdict failed: " + e);
            e.printStackTrace(System.out);
        }
    }
}
