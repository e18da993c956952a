package com.zvk.quarnelbrisk.bdd.nativeproxy;

/**
 * Measures how deep a diagram each recursive operation takes on threads of a given stack size: the
 * deepest chain (see {@link DeepChains}) on which the operation answers rather than raising "Stack
 * exhausted", found by bisection with a fresh engine for every try. Not a test: it prints a table.
 *
 * <p>Arguments: stack sizes in KiB (default 256 1024 8192).
 */
public final class DepthProbe {
    private DepthProbe() {}

    public static void main(String[] args) throws Exception {
        long[] stacksKiB = args.length == 0 ? new long[] {256, 1024, 8192} : new long[args.length];
        for (int i = 0; i < args.length; i++) {
            stacksKiB[i] = Long.parseLong(args[i]);
        }
        StringBuilder head = new StringBuilder(String.format("%-12s", "operation"));
        for (long k : stacksKiB) {
            head.append(String.format(" %10s", k + " KiB"));
        }
        System.out.println(head);
        for (DeepChains.Op op : DeepChains.Op.values()) {
            StringBuilder row = new StringBuilder(String.format("%-12s", op.name().toLowerCase()));
            for (long k : stacksKiB) {
                row.append(String.format(" %10d", deepest(op, k << 10)));
            }
            System.out.println(row);
        }
    }

    /** The greatest depth at which {@code op} answers on a thread of this stack size. */
    static int deepest(DeepChains.Op op, long stackBytes) throws Exception {
        int ok = 0;
        int bad = DeepChains.MAX_DEPTH + 1;
        while (bad - ok > 1) {
            int mid = (ok + bad) >>> 1;
            if (answers(op, mid, stackBytes)) {
                ok = mid;
            } else {
                bad = mid;
            }
        }
        return ok;
    }

    private static boolean answers(DeepChains.Op op, int depth, long stackBytes) throws Exception {
        boolean[] answered = new boolean[1];
        DeepChains.onThread(stackBytes, () -> {
            BDDManagerNativeProxy.doInit(1 << 22, 1 << 20, 1000, true);
            try {
                DeepChains.check(op, depth);
                answered[0] = true;
            } catch (NativeBDDException e) {
                if (!e.getMessage().equals("Assert failed: Stack exhausted")) {
                    throw e;
                }
            }
        });
        return answered[0];
    }
}
