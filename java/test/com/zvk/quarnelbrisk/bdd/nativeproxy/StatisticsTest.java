package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.zvk.quarnelbrisk.utils.Formatter;
import org.junit.jupiter.api.Test;

class StatisticsTest {
    private static String[] expectedReport(int alive, int allocated, int buckets, int cacheEntries) {
        return new String[] {
            "Alive nodes: " + alive,
            "Total nodes allocated: " + allocated,
            "Nodes cache size: " + Formatter.formatSize(4L * buckets),
            "Op cache size: " + Formatter.formatSize(24L * cacheEntries),
            "Nodes size: " + Formatter.formatSize(24L * allocated),
        };
    }

    @Test
    void reportFollowsTheStoreAsItGrows() {
        freshEngine(1 << 20, 1000, 0, true);
        // 2500 single-variable tuples over distinct variables: one node each.
        for (int v = 0; v < 2500; v++) {
            BDDManagerNativeProxy.doMakeSingleTupleUnary(v, 1, v & 1);
        }
        assertArrayEquals(expectedReport(2500, 3000, 4096, 128), BDDManagerNativeProxy.doGetInfo());
        assertEquals(4 * 4096 + 24 * 128 + 24 * 3000, BDDManagerNativeProxy.doGetMemoryState());
    }

    @Test
    void formatterGivesBinaryUnits() {
        assertEquals("0 B", Formatter.formatSize(0));
        assertEquals("1023 B", Formatter.formatSize(1023));
        assertEquals("3.0 KB", Formatter.formatSize(3072));
        assertEquals("23.4 KB", Formatter.formatSize(24000));
        assertEquals("1.5 MB", Formatter.formatSize(3L << 19));
        assertEquals("8.0 EB", Formatter.formatSize(Long.MAX_VALUE));
    }
}
