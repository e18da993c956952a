package com.zvk.quarnelbrisk.bdd.typed;

/**
 * A named field of tuples: {@code width} bits on a run of variables of its own, which the
 * {@link Engine} chose when the field was declared ({@link Engine#field(String, int)}). Values are
 * 0 to 2<sup>width</sup> − 1, most significant bit at the first variable. Two fields of one engine
 * never share a variable, and a field belongs to the engine (and generation) that declared it.
 */
public final class Field {
    private final Engine engine;
    private final String name;
    private final int width;
    private final int firstVar;

    Field(Engine engine, String name, int width, int firstVar) {
        this.engine = engine;
        this.name = name;
        this.width = width;
        this.firstVar = firstVar;
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
        return width;
    }

    /**
     * The variable of the most significant bit; the field takes the {@link #width} variables from here.
     *
     * @return the first variable of the field's run
     */
    public int firstVar() {
        return firstVar;
    }

    /**
     * The number of values the field can hold.
     *
     * @return 2<sup>width</sup>
     */
    public int size() {
        return 1 << width;
    }

    Engine engine() {
        return engine;
    }

    /** Refuses a value that does not fit the field (the engine itself would drop the extra bits). */
    int checkedValue(int value) {
        if (value < 0 || value >= size()) {
            throw new IllegalArgumentException("value " + value + " does not fit field " + name + " of " + width + " bits");
        }
        return value;
    }

    /**
     * The field as text.
     *
     * @return name, width and run, as in {@code pkg:16@0}
     */
    @Override
    public String toString() {
        return name + ":" + width + "@" + firstVar;
    }
}
