package com.zvk.quarnelbrisk.bdd.typed;

import java.util.Arrays;

/**
 * A named field of tuples: {@code width} bits on variables of its own, which the {@link Engine}
 * chose when the field was declared, and a domain of {@link #size} values, 0 to size − 1.
 *
 * <p>A field declared with {@link Engine#field(String, int)} or {@link Engine#domain(String, long)}
 * lies on a run of consecutive variables, most significant bit at the first; the fields of
 * {@link Engine#interleaved(int, String...)} lie on alternating variables. Two fields of one engine
 * never share a variable, and a field belongs to the engine (and generation) that declared it.
 */
public final class Field {
    private final Engine engine;
    private final String name;
    private final int[] vars;
    private final int size;

    Field(Engine engine, String name, int[] vars, int size) {
        this.engine = engine;
        this.name = name;
        this.vars = vars;
        this.size = size;
    }

    /**
     * The name given at declaration.
     *
     * @return the field's name
     */
    public String name() {
        return name;
    }

    /**
     * The number of bits.
     *
     * @return the width, 1 to 30
     */
    public int width() {
        return vars.length;
    }

    /**
     * The variable of the most significant bit. For a field on a run of variables this is the run's
     * first variable, and the field takes the {@link #width} variables from here; for other fields
     * (interleaved ones) see {@link #vars}.
     *
     * @return the variable of the most significant bit
     */
    public int firstVar() {
        return vars[0];
    }

    /**
     * The field's variables, most significant bit first, as the natives of
     * {@link com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy} take them.
     *
     * @return a copy of the list
     */
    public int[] vars() {
        return vars.clone();
    }

    /**
     * Whether the field lies on a run of consecutive variables in increasing order.
     *
     * @return true for a run
     */
    public boolean isRun() {
        for (int i = 1; i < vars.length; i++) {
            if (vars[i] != vars[0] + i) {
                return false;
            }
        }
        return true;
    }

    /**
     * The number of values the field can hold: the values are 0 to {@code size() - 1}.
     *
     * @return 2<sup>width</sup> for a field of {@link Engine#field(String, int)}, the size given for a
     *     domain
     */
    public int size() {
        return size;
    }

    /**
     * Whether the field holds every value of its width, so that no set needs a constraint to stay
     * inside its domain.
     */
    boolean isFull() {
        return size == 1 << vars.length;
    }

    Engine engine() {
        return engine;
    }

    /** The variables without a copy; never handed out. */
    int[] varList() {
        return vars;
    }

    /** Refuses a value outside the domain (the engine itself would refuse only those too wide). */
    int checkedValue(int value) {
        if (value < 0 || value >= size) {
            throw new IllegalArgumentException("value " + value + " is not in field " + this);
        }
        return value;
    }

    /**
     * The field as text: name, width and where its bits are, and the size of a domain whose size is
     * not a power of two.
     *
     * @return {@code pkg:16@0} for a run from variable 0, {@code a:8@[0, 2 .. 14]} for bits on every
     *     other variable from 0 to 14, {@code a:3@[4, 0, 9]} for other lists, {@code d[3000]:12@32}
     *     for a domain of 3000 values
     */
    @Override
    public String toString() {
        return name + (isFull() ? "" : "[" + size + "]") + ":" + vars.length + "@" + where();
    }

    private String where() {
        if (isRun()) {
            return String.valueOf(vars[0]);
        }
        int step = vars[1] - vars[0];
        for (int i = 2; i < vars.length; i++) {
            if (vars[i] - vars[i - 1] != step) {
                return Arrays.toString(vars);
            }
        }
        return vars.length == 2 ? Arrays.toString(vars) : "[" + vars[0] + ", " + vars[1] + " .. " + vars[vars.length - 1] + "]";
    }
}
