package com.zvk.quarnelbrisk.bdd.nativeproxy;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.List;

/**
 * A plain model of what the engine's diagrams mean: a set of tuples over one layout.
 *
 * <p>A layout places field f on the variables {@code firstVar[f] .. firstVar[f] + width[f] - 1},
 * most significant bit at the lowest variable. Variables in gaps between fields, and outside every
 * field, are free in every set the model describes, as they are in every set the engine builds
 * from tuples. So a set of tuples stands for the diagram whose satisfying assignments restricted to
 * the field variables are the members' encodings.
 *
 * <p>The operations mean on tuples what the engine's operations mean on assignments:
 * {@link #existsVar} and {@link #exists} let the quantified field bits take either value (a whole
 * field becomes "any value"), {@link #relprod} is {@code exists} of the intersection, and
 * {@link #rename} moves the bits of a run to the variables {@code offset} further on, leaving the
 * bits of the run that are not overwritten free. Models are immutable; every operation returns a
 * new one. A tuple is encoded as one number whose order is the lexicographic order of the field
 * values, so {@link #tuples} lists them ascending.
 */
public final class TupleSetModel {
    /** Field positions and widths; fields in increasing variable order without overlap. */
    public static final class Layout {
        final int[] firstVar;
        final int[] width;
        /** Bits of the code: code bit p holds the variable bitVar[p]. */
        final int[] bitVar;
        final int totalBits;

        public Layout(int[] firstVar, int[] width) {
            if (firstVar.length != width.length) {
                throw new IllegalArgumentException("one width per field");
            }
            this.firstVar = firstVar.clone();
            this.width = width.clone();
            int bits = 0;
            for (int w : width) {
                bits += w;
            }
            if (bits > 24) {
                throw new IllegalArgumentException("the model enumerates at most 2^24 tuples");
            }
            totalBits = bits;
            bitVar = new int[bits];
            int p = 0;
            for (int f = width.length - 1; f >= 0; f--) {
                for (int i = 0; i < width[f]; i++) {
                    bitVar[p++] = firstVar[f] + width[f] - 1 - i;
                }
            }
        }

        public int fields() {
            return firstVar.length;
        }

        public int[] firstVar() {
            return firstVar.clone();
        }

        public int[] width() {
            return width.clone();
        }

        /** The number of tuples of the full set. */
        public int domainSize() {
            return 1 << totalBits;
        }

        /** The code bit that holds variable v, or -1 when v lies outside every field. */
        int bitOf(int v) {
            for (int p = 0; p < totalBits; p++) {
                if (bitVar[p] == v) {
                    return p;
                }
            }
            return -1;
        }

        int encode(int[] values) {
            int code = 0;
            for (int f = 0; f < width.length; f++) {
                code = (code << width[f]) | (values[f] & ((1 << width[f]) - 1));
            }
            return code;
        }

        int[] decode(int code) {
            int[] values = new int[width.length];
            for (int f = width.length - 1; f >= 0; f--) {
                values[f] = code & ((1 << width[f]) - 1);
                code >>>= width[f];
            }
            return values;
        }

        @Override
        public String toString() {
            return "first " + Arrays.toString(firstVar) + " width " + Arrays.toString(width);
        }
    }

    private final Layout layout;
    private final BitSet codes;

    private TupleSetModel(Layout layout, BitSet codes) {
        this.layout = layout;
        this.codes = codes;
    }

    public static TupleSetModel empty(Layout layout) {
        return new TupleSetModel(layout, new BitSet());
    }

    public static TupleSetModel full(Layout layout) {
        BitSet all = new BitSet();
        all.set(0, layout.domainSize());
        return new TupleSetModel(layout, all);
    }

    public static TupleSetModel of(Layout layout, int[]... tuples) {
        TupleSetModel m = empty(layout);
        for (int[] t : tuples) {
            m = m.add(t);
        }
        return m;
    }

    /** The tuple with its values truncated to the field widths, as the engine inserts it. */
    public TupleSetModel add(int[] values) {
        BitSet next = (BitSet) codes.clone();
        next.set(layout.encode(values));
        return new TupleSetModel(layout, next);
    }

    public Layout layout() {
        return layout;
    }

    public boolean isEmpty() {
        return codes.isEmpty();
    }

    public boolean contains(int[] values) {
        return codes.get(layout.encode(values));
    }

    public int size() {
        return codes.cardinality();
    }

    /** The members, in ascending lexicographic order of their field values. */
    public List<int[]> tuples() {
        List<int[]> list = new ArrayList<>();
        for (int c = codes.nextSetBit(0); c >= 0; c = codes.nextSetBit(c + 1)) {
            list.add(layout.decode(c));
        }
        return list;
    }

    public TupleSetModel complement() {
        BitSet next = (BitSet) codes.clone();
        next.flip(0, layout.domainSize());
        return new TupleSetModel(layout, next);
    }

    public TupleSetModel unite(TupleSetModel other) {
        BitSet next = (BitSet) codes.clone();
        next.or(other.codes);
        return new TupleSetModel(layout, next);
    }

    public TupleSetModel intersect(TupleSetModel other) {
        BitSet next = (BitSet) codes.clone();
        next.and(other.codes);
        return new TupleSetModel(layout, next);
    }

    /** True when this set contains every member of {@code other}. */
    public boolean superset(TupleSetModel other) {
        BitSet missing = (BitSet) other.codes.clone();
        missing.andNot(codes);
        return missing.isEmpty();
    }

    /**
     * True when the set constrains some variable of the run, that is when its diagram tests one:
     * a reduced diagram tests exactly the variables its set depends on.
     */
    public boolean dependsOn(int firstVar, int numVars) {
        int mask = runMask(firstVar, numVars);
        for (int bit = 1; bit != 0 && bit <= mask; bit <<= 1) {
            if ((mask & bit) != 0 && !freeBits(codes, bit).equals(codes)) {
                return true;
            }
        }
        return false;
    }

    /** Variable v quantified away: its bit takes either value. Gap variables change nothing. */
    public TupleSetModel existsVar(int v) {
        int p = layout.bitOf(v);
        return p < 0 ? this : new TupleSetModel(layout, freeBits(codes, 1 << p));
    }

    /** The variables firstVar .. firstVar + numVars - 1 quantified away. */
    public TupleSetModel exists(int firstVar, int numVars) {
        return new TupleSetModel(layout, freeBits(codes, runMask(firstVar, numVars)));
    }

    /** The run quantified away from the intersection of the two sets. */
    public TupleSetModel relprod(TupleSetModel other, int firstVar, int numVars) {
        return intersect(other).exists(firstVar, numVars);
    }

    /**
     * Every variable v of the run replaced by v + offset. The moved run must land on field
     * variables, and the set must leave the variables it lands on outside the run free (the rename
     * would otherwise meet what the set says about them); both are refused with
     * IllegalArgumentException. Bits of the run that nothing lands on become free.
     */
    public TupleSetModel rename(int firstVar, int numVars, int offset) {
        int runMask = runMask(firstVar, numVars);
        int[] sourceOf = new int[layout.totalBits]; // code bit -> code bit it takes its value from
        int landed = 0;
        int gapSources = 0;
        Arrays.fill(sourceOf, -1);
        for (int v = firstVar; v < firstVar + numVars; v++) {
            int to = layout.bitOf(v + offset);
            if (to < 0) {
                if (dependsOn(v, 1)) {
                    throw new IllegalArgumentException("variable " + v + " would move outside the fields");
                }
                continue; // a free variable moved outside the fields: free before and after
            }
            landed |= 1 << to;
            int from = layout.bitOf(v);
            if (from < 0) {
                gapSources |= 1 << to; // a free gap variable lands on a field bit: it becomes free
            } else {
                sourceOf[to] = from;
            }
        }
        int outsideLanding = landed & ~runMask;
        if (!freeBits(codes, outsideLanding).equals(codes)) {
            throw new IllegalArgumentException("the set constrains variables the run lands on");
        }
        int cleared = runMask & ~landed;
        BitSet moved = new BitSet();
        for (int c = codes.nextSetBit(0); c >= 0; c = codes.nextSetBit(c + 1)) {
            int m = c & ~(landed | runMask);
            for (int to = 0; to < layout.totalBits; to++) {
                if (sourceOf[to] >= 0 && (c & (1 << sourceOf[to])) != 0) {
                    m |= 1 << to;
                }
            }
            moved.set(m);
        }
        return new TupleSetModel(layout, freeBits(moved, cleared | gapSources));
    }

    /** The diagram of this set in the engine, built with doAddTuple from zero; one reference. */
    public int build() {
        int set = BDDManagerNativeProxy.doGetZero();
        for (int[] t : tuples()) {
            int next = BDDNativeProxy.doAddTuple(set, layout.firstVar, layout.width, t);
            if (set != BDDManagerNativeProxy.doGetZero()) {
                BDDNativeProxy.doDecRefCount(set);
            }
            set = next;
        }
        return set;
    }

    private int runMask(int firstVar, int numVars) {
        int mask = 0;
        for (int p = 0; p < layout.totalBits; p++) {
            int v = layout.bitVar[p];
            if (v >= firstVar && (long) v < (long) firstVar + numVars) {
                mask |= 1 << p;
            }
        }
        return mask;
    }

    /** Every code that agrees with a member outside the bits of {@code mask}. */
    private static BitSet freeBits(BitSet codes, int mask) {
        BitSet result = (BitSet) codes.clone();
        for (int bit = 1; bit != 0 && bit <= mask; bit <<= 1) {
            if ((mask & bit) == 0) {
                continue;
            }
            BitSet flipped = new BitSet();
            for (int c = result.nextSetBit(0); c >= 0; c = result.nextSetBit(c + 1)) {
                flipped.set(c ^ bit);
            }
            result.or(flipped);
        }
        return result;
    }

    @Override
    public String toString() {
        StringBuilder s = new StringBuilder("{");
        List<int[]> members = tuples();
        for (int i = 0; i < members.size(); i++) {
            if (i == 32) {
                s.append(" ... ").append(members.size()).append(" tuples");
                break;
            }
            s.append(i == 0 ? "" : " ").append(Arrays.toString(members.get(i)));
        }
        return s.append('}').toString();
    }
}
