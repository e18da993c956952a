package com.zvk.quarnelbrisk.bench;

/**
 * The engine's node-creation counter, read through the probe build of the library
 * (bench/probe/libengine-native.so in the build tree: the same engine objects plus this one reader). The
 * library that applications load has no such entry point; Workloads uses it only with --count-nodes.
 */
final class EngineProbe {
    private EngineProbe() {}

    /** Nodes created by make-node since doInit. */
    static native long createdNodes();
}
