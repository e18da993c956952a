package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** Calls made before start-up, in a virtual machine of their own (the engine lives for the process). */
class UninitializedTest {
    /** Runs in the child process: every call before start-up, then start-up and a call after it. */
    public static void main(String[] args) {
        System.out.println("memory " + BDDManagerNativeProxy.doGetMemoryState());
        BDDNativeProxy.doDecRefCount(12);
        System.out.println("release ok");
        print(() -> BDDManagerNativeProxy.doGetZero());
        print(() -> BDDManagerNativeProxy.doGetInfo());
        print(() -> BDDNativeProxy.doIncRefCount(5));
        print(BDDManagerNativeProxy::doCollectGarbage);
        BDDManagerNativeProxy.doInit(1000, 1000, 0, true);
        System.out.println("after start-up " + BDDManagerNativeProxy.doGetInfo()[1]);
    }

    private interface Call {
        void run();
    }

    private static void print(Call call) {
        try {
            call.run();
            System.out.println("no error");
        } catch (NativeBDDException e) {
            System.out.println(e.getMessage());
        }
    }

    @Test
    void everyCallButTheTwoFramelessOnesIsRefused() throws IOException, InterruptedException {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        Process p = new ProcessBuilder(java, "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("engine.test.classpath"), UninitializedTest.class.getName())
                .redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        p.waitFor(60, TimeUnit.SECONDS);
        String refused = "Assert failed: Engine not initialized";
        assertEquals(List.of("memory 0", "release ok", refused, refused, refused, refused,
                "after start-up Total nodes allocated: 1000"), out.lines().toList(), out);
        assertEquals(0, p.exitValue());
    }
}
