package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;

/**
 * The dependency relation of a package database as a diagram, and its transitive closure.
 *
 * <p>Packages are numbered 0 to n-1 and encoded in k bits. A relation over packages has two fields:
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

    /** D(x, y): y is a direct dependency of x. Built one tuple at a time with doAddTuple. */
    public int directRelation(PackageDatabase db) {
        int d = BDDManagerNativeProxy.doGetZero();  // carries no reference
        boolean owned = false;
        for (int p = 0; p < db.size(); p++) {
            for (int dep : db.dependencies(p)) {
                int next = BDDNativeProxy.doAddTuple(d, pairFirstVar, pairWidth, new int[] {p, dep});
                if (owned) {
                    BDDNativeProxy.doDecRefCount(d);
                }
                d = next;
                owned = true;
            }
        }
        if (!owned) {
            BDDNativeProxy.doIncRefCount(d);
        }
        return d;
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

    /** The pairs of a relation in ascending order. */
    @SuppressWarnings("unchecked")
    public java.util.List<int[]> listPairs(int relation, int packages) {
        return (java.util.List<int[]>) BDDNativeProxy.doGetNTuples(relation, pairFirstVar, pairWidth,
                new int[] {packages, packages}, -1);
    }

    /** The set x = y over the two fields: the conjunction of one equality per bit. */
    public int diagonal() {
        int diag = BDDManagerNativeProxy.doGetOne();
        boolean owned = false;
        for (int i = bits - 1; i >= 0; i--) {
            int eq = BDDManagerNativeProxy.doMakeEquals(i, bits + i);
            int next = BDDNativeProxy.doIntersect(diag, eq);
            BDDNativeProxy.doDecRefCount(eq);
            if (owned) {
                BDDNativeProxy.doDecRefCount(diag);
            }
            diag = next;
            owned = true;
        }
        return diag;
    }
}
