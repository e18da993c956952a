package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class StatisticsTest {
    @Test
    void theReportFollowsTheStoreInTheFormattersUnits() {
        BDDManagerNativeProxy.doInit(1 << 20, 1000, 0, true);
        // 2500 single-variable tuples over distinct variables: one node each, in three blocks of records.
        for (int v = 0; v < 2500; v++) {
            BDDManagerNativeProxy.doMakeSingleTupleUnary(v, 1, v & 1);
        }
        assertArrayEquals(new String[] {"Alive nodes: 2500", "Total nodes allocated: 3000", "Nodes cache size: 16.0 KB",
            "Op cache size: 3.0 KB", "Nodes size: 70.3 KB"}, BDDManagerNativeProxy.doGetInfo());
        assertEquals(4 * 4096 + 24 * 128 + 24 * 3000, BDDManagerNativeProxy.doGetMemoryState());
    }
}
