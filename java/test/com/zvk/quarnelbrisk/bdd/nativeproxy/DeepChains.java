package com.zvk.quarnelbrisk.bdd.nativeproxy;

import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;

/**
 * Single-tuple chains as deep as the variables allow, and every operation whose work grows with the
 * depth of a diagram, each checked against an answer built without recursion.
 *
 * <p>A chain of depth d is one tuple over the variables 0 .. d-1: fields of 31 bits and a last,
 * shorter one. Its twin differs only in the last variable, so the two share no inner node but agree
 * on every variable above it: a binary operation on them recurses all the way down. Their union is
 * the chain with the last variable free, which make-node also builds directly, one level at a time.
 */
final class DeepChains {
    private DeepChains() {}

    /** The deepest chain: every variable from 0 to 32764, leaving 32765 free for a rename by one. */
    static final int MAX_DEPTH = 32765;

    static final class Layout {
        final int[] first;
        final int[] width;
        final int[] bound;

        Layout(int depth, int shift) {
            int fields = (depth + 30) / 31;
            first = new int[fields];
            width = new int[fields];
            bound = new int[fields];
            for (int f = 0; f < fields; f++) {
                first[f] = 31 * f + shift;
                width[f] = Math.min(31, depth - 31 * f);
                bound[f] = Integer.MAX_VALUE;
            }
        }

        int fields() {
            return first.length;
        }
    }

    /** Alternating bits, shifted by field, in the width of each field. */
    static int[] values(Layout l) {
        int[] v = new int[l.fields()];
        for (int f = 0; f < v.length; f++) {
            int pattern = (f % 2 == 0) ? 0x2AAAAAAA : 0x15555555;
            v[f] = pattern & (int) ((1L << l.width[f]) - 1);
        }
        return v;
    }

    /** An operation on chains of a given depth; it raises what the engine raises. */
    enum Op {
        COUNT, LIST, COMPLEMENT, UNITE, INTERSECT, SUPERSET, EXISTS_VAR, EXISTS, RELPROD, RENAME, ADD_TUPLE, SERIALIZE
    }

    /** Handles made by one check, given back on every exit. */
    private static final class Held implements AutoCloseable {
        final List<Integer> handles = new ArrayList<>();

        int keep(int h) {
            handles.add(h);
            return h;
        }

        @Override
        public void close() {
            for (int h : handles) {
                BDDNativeProxy.doDecRefCount(h);
            }
        }
    }

    private static void expect(boolean ok, Op op, int depth, String what) {
        if (!ok) {
            throw new AssertionError(op + " at depth " + depth + ": " + what);
        }
    }

    /**
     * Runs {@code op} on chains of {@code depth} and checks its answer. A NativeBDDException of the
     * operation passes through; a wrong answer is an AssertionError. Gives back what it made.
     */
    static void check(Op op, int depth) throws IOException {
        Layout l = new Layout(depth, 0);
        int[] v = values(l);
        int last = l.fields() - 1;
        int[] twinValues = v.clone();
        twinValues[last] ^= 1;  // the last variable is the least significant bit of the last field
        try (Held held = new Held()) {
            int chain = held.keep(BDDManagerNativeProxy.doMakeSingleTuple(l.first, l.width, v));
            int twin = held.keep(BDDManagerNativeProxy.doMakeSingleTuple(l.first, l.width, twinValues));
            // Both chains with the last variable free.
            int[] shortWidth = l.width.clone();
            int[] shortValues = v.clone();
            shortWidth[last]--;
            shortValues[last] >>= 1;
            int free = held.keep(BDDManagerNativeProxy.doMakeSingleTuple(l.first, shortWidth, shortValues));
            int zero = BDDManagerNativeProxy.doGetZero();
            switch (op) {
                case COUNT:
                    expect(BDDNativeProxy.doGetNumOfTuples(chain, l.first, l.width, l.bound) == 1, op, depth, "count");
                    break;
                case LIST: {
                    Vector<?> tuples = (Vector<?>) BDDNativeProxy.doGetNTuples(chain, l.first, l.width, l.bound, -1);
                    expect(tuples.size() == 1 && Arrays.equals((int[]) tuples.get(0), v), op, depth, "listing");
                    break;
                }
                case COMPLEMENT: {
                    int c = held.keep(BDDNativeProxy.doComplement(chain));
                    expect(BDDNativeProxy.doGetNumOfNodes(c) == depth, op, depth, "size of the complement");
                    expect(held.keep(BDDNativeProxy.doComplement(c)) == chain, op, depth, "double complement");
                    break;
                }
                case UNITE:
                    expect(held.keep(BDDNativeProxy.doUnite(chain, twin)) == free, op, depth, "union");
                    break;
                case INTERSECT:
                    expect(held.keep(BDDNativeProxy.doIntersect(chain, twin)) == zero, op, depth, "intersection");
                    break;
                case SUPERSET:
                    expect(BDDNativeProxy.doSuperset(free, chain) && !BDDNativeProxy.doSuperset(chain, twin), op, depth,
                            "inclusion");
                    break;
                case EXISTS_VAR:
                    expect(held.keep(BDDNativeProxy.doExistsVar(chain, depth - 1)) == free, op, depth, "projection");
                    break;
                case EXISTS:
                    expect(held.keep(BDDNativeProxy.doExists(chain, depth - 1, 1)) == free, op, depth, "projection");
                    break;
                case RELPROD:
                    expect(held.keep(BDDNativeProxy.doRelprod(chain, free, depth - 1, 1)) == free, op, depth,
                            "relational product");
                    break;
                case RENAME: {
                    Layout moved = new Layout(depth, 1);
                    int expected = held.keep(BDDManagerNativeProxy.doMakeSingleTuple(moved.first, moved.width, v));
                    expect(held.keep(BDDNativeProxy.doRename(chain, 0, depth, 1)) == expected, op, depth, "rename");
                    break;
                }
                case ADD_TUPLE:
                    expect(held.keep(BDDNativeProxy.doAddTuple(chain, l.first, l.width, twinValues)) == free, op, depth,
                            "insertion");
                    break;
                case SERIALIZE: {
                    int[] stream = StreamSupport.write(chain, twin);
                    int nodes = 2 + 2 * depth;
                    expect(stream.length == 4 * nodes + 2 - 6 && stream[1] == nodes, op, depth, "stream size");
                    int[] back = StreamSupport.read(stream);
                    for (int h : back) {
                        held.keep(h);
                    }
                    expect(Arrays.equals(back, new int[] {chain, twin}), op, depth, "read back");
                    break;
                }
                default:
                    throw new AssertionError(op);
            }
        }
    }

    /** Runs {@code body} on a new thread with this stack size and waits for it. */
    static void onThread(long stackBytes, ThrowingRunnable body) throws Exception {
        Throwable[] failure = new Throwable[1];
        Thread t = new Thread(null, () -> {
            try {
                body.run();
            } catch (Throwable e) {
                failure[0] = e;
            }
        }, "deep", stackBytes);
        t.start();
        t.join();
        if (failure[0] instanceof Exception e) {
            throw e;
        }
        if (failure[0] instanceof Error e) {
            throw e;
        }
    }

    interface ThrowingRunnable {
        void run() throws Exception;
    }
}
