package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_COLLECTIONS;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_FREE_RECORDS;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_LIVE_NODES;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_NODES_CREATED;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_RECORDS;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.STAT_RECORD_BUDGET;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.refused;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import java.util.HashSet;
import java.util.Random;
import java.util.Set;
import org.junit.jupiter.api.Test;

/**
 * The drain and the collection policy: what no reference reaches is freed, nothing that one
 * reaches is, and under the policy the records carved stay within its bound of the live nodes.
 */
class CollectionPolicyTest {
    private static final int[] FIRST = {0, 12};
    private static final int[] WIDTH = {12, 12};

    /** A set of {@code n} random tuples, each also recorded in {@code tuples}; one reference. */
    private static int grown(Random rnd, int n, Set<Long> tuples) {
        int s = BDDManagerNativeProxy.doGetZero();
        for (int i = 0; i < n; i++) {
            int x = rnd.nextInt(4096);
            int y = rnd.nextInt(4096);
            tuples.add((long) x << 12 | y);
            int next = BDDNativeProxy.doAddTuple(s, FIRST, WIDTH, new int[] {x, y});
            release(s);
            s = next;
        }
        return s;
    }

    private static int count(int set) {
        return BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, new int[] {4096, 4096});
    }

    @Test
    void aDrainFreesWhatNoReferenceReachesAndNothingThatOneDoes() {
        // Collections every 1000 creations free a dead diagram one level at a time.
        BDDManagerNativeProxy.doInit(1 << 20, 1 << 16, 999, true);
        Random rnd = new Random(3);
        Set<Long> kept = new HashSet<>();
        int held = grown(rnd, 3000, kept);
        int dropped = grown(rnd, 3000, new HashSet<>());
        int union = BDDNativeProxy.doUnite(held, dropped);  // shares nodes with both
        release(dropped, union);
        BDDManagerNativeProxy.doCollectGarbage();
        long[] before = BDDEngineNativeProxy.doGetStats();
        assertTrue(before[STAT_LIVE_NODES] > BDDNativeProxy.doGetNumOfNodes(held), "a collection frees one level");
        BDDEngineNativeProxy.doDrain();
        long[] after = BDDEngineNativeProxy.doGetStats();
        assertEquals(BDDNativeProxy.doGetNumOfNodes(held), after[STAT_LIVE_NODES]);
        assertEquals("Alive nodes: " + after[STAT_LIVE_NODES], BDDManagerNativeProxy.doGetInfo()[0]);
        assertEquals(after[STAT_RECORDS] - 2 - after[STAT_LIVE_NODES], after[STAT_FREE_RECORDS]);
        assertEquals(kept.size(), count(held));
        assertTrue(after[STAT_NODES_CREATED] >= before[STAT_LIVE_NODES] && after[STAT_COLLECTIONS] > 0);
        release(held);
        BDDEngineNativeProxy.doDrain();
        assertEquals(0, BDDEngineNativeProxy.doGetStats()[STAT_LIVE_NODES]);
    }

    @Test
    void underThePolicyTheRecordsStayWithinTwiceWhatIsHeldAndWhatIsHeldStays() {
        BDDManagerNativeProxy.doInit(1 << 20, 1 << 16, 1000, true);
        final int floor = 20_000;
        BDDEngineNativeProxy.doSetCollectionPolicy(floor, 2);
        Random rnd = new Random(5);
        // A set replaced round by round by its union with a small one: each old version becomes
        // garbage, most of it shared with the new one.
        Set<Long> tuples = new HashSet<>();
        int set = grown(rnd, 500, tuples);
        long mostHeld = 0;
        for (int round = 0; round < 300; round++) {
            int other = grown(rnd, 1 + rnd.nextInt(40), tuples);
            int next = BDDNativeProxy.doUnite(set, other);
            mostHeld = Math.max(mostHeld, BDDNativeProxy.doGetNumOfNodes(set) + BDDNativeProxy.doGetNumOfNodes(next)
                    + BDDNativeProxy.doGetNumOfNodes(other));
            release(set, other);
            set = next;
            long[] stats = BDDEngineNativeProxy.doGetStats();
            assertTrue(stats[STAT_RECORDS] <= Math.max(floor, 2 * (mostHeld + 64)) + 1000,
                    "round " + round + ": " + stats[STAT_RECORDS] + " records for at most " + mostHeld + " held");
        }
        assertTrue(BDDEngineNativeProxy.doGetStats()[STAT_COLLECTIONS] > 0);
        assertEquals(tuples.size(), count(set));
        release(set);
        BDDManagerNativeProxy.doCollectGarbage();  // under the policy a collection frees whole diagrams
        assertEquals(0, BDDEngineNativeProxy.doGetStats()[STAT_LIVE_NODES]);
        refused("Invalid collection policy", () -> BDDEngineNativeProxy.doSetCollectionPolicy(-1, 2),
                () -> BDDEngineNativeProxy.doSetCollectionPolicy(0, 0));
    }

    @Test
    void theTypedLayerCollectsByThePolicyUnlessItsSettingsGiveARate() {
        Engine.start();
        assertEquals(Engine.Settings.DEFAULT_COLLECTION_FLOOR, BDDEngineNativeProxy.doGetStats()[STAT_RECORD_BUDGET]);
        Engine.start(new Engine.Settings(1 << 20, 1 << 16, 1000, true));
        assertEquals(0, BDDEngineNativeProxy.doGetStats()[STAT_RECORD_BUDGET]);
    }
}
