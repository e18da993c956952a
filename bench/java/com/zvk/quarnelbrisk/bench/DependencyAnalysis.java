package com.zvk.quarnelbrisk.bench;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;

/**
 * The transitive closure of a relation over k-bit numbers, computed naively through the raw natives
 * (the whole closure is joined again in every round), as the peer library computes it.
 *
 * <p>Nodes are numbered 0 to n-1 and encoded in k bits. A relation over them has two fields:
 * x at variables 0..k-1 and y at k..2k-1; the closure's join uses a third field z at 2k..3k-1.
 * Every handle this class receives is given back exactly once.
 */
public final class DependencyAnalysis {
    private final int bits;
    private final int[] pairFirstVar;
    private final int[] pairWidth;

    public DependencyAnalysis(int packages) {
        int k = 1;
        while ((1 << k) < packages) {
            k++;
        }
        this.bits = k;
        this.pairFirstVar = new int[] {0, k};
        this.pairWidth = new int[] {k, k};
    }

    public int bits() {
        return bits;
    }

    public int[] pairFirstVar() {
        return pairFirstVar.clone();
    }

    public int[] pairWidth() {
        return pairWidth.clone();
    }

    /** The transitive closure and the number of rounds that reached its fixpoint. */
    public record Closure(int handle, int iterations) {}

    /**
     * T := D; then T := T ∪ rename(relprod(T(x,y), D(y,z)) over y, z→y) until T no longer changes.
     * Equal sets have equal handles, so the fixpoint test is a handle comparison.
     */
    public Closure transitiveClosure(int direct) {
        int k = bits;
        int shifted = BDDNativeProxy.doRename(direct, 0, 2 * k, k);  // D(y, z)
        BDDNativeProxy.doIncRefCount(direct);
        int t = direct;
        int iterations = 0;
        while (true) {
            iterations++;
            int joined = BDDNativeProxy.doRelprod(t, shifted, k, k);  // over (x, z)
            int step = BDDNativeProxy.doRename(joined, 2 * k, k, -k);  // back to (x, y)
            BDDNativeProxy.doDecRefCount(joined);
            int next = BDDNativeProxy.doUnite(t, step);
            BDDNativeProxy.doDecRefCount(step);
            if (next == t) {
                BDDNativeProxy.doDecRefCount(next);
                break;
            }
            BDDNativeProxy.doDecRefCount(t);
            t = next;
        }
        BDDNativeProxy.doDecRefCount(shifted);
        return new Closure(t, iterations);
    }

    /** Number of (x, y) pairs of a relation. */
    public int pairs(int relation, int packages) {
        return BDDNativeProxy.doGetNumOfTuples(relation, pairFirstVar, pairWidth, new int[] {packages, packages});
    }
}
