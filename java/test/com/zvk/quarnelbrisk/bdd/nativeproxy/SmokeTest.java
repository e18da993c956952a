package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class SmokeTest {
    @Test
    void startsUp() {
        BDDManagerNativeProxy.doInit(1000, 1000, 0, true);
        assertEquals("Alive nodes: 0", BDDManagerNativeProxy.doGetInfo()[0]);
    }
}
