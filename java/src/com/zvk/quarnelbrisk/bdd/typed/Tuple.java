package com.zvk.quarnelbrisk.bdd.typed;

import java.util.Arrays;

/**
 * One tuple of a listing: its values in the order of its layout's fields.
 *
 * @param layout the fields the values belong to
 * @param values one value per field, in the layout's order; not copied, so do not change it
 */
public record Tuple(Layout layout, int[] values) {
    /**
     * The value of a field.
     *
     * @param field a field of the layout
     * @return its value in this tuple
     * @throws IllegalArgumentException when the layout does not hold the field
     */
    public int get(Field field) {
        int i = layout.indexOf(field);
        if (i < 0) {
            throw new IllegalArgumentException("no field " + field + " in " + layout);
        }
        return values[i];
    }

    /**
     * The value of the field of that name.
     *
     * @param name a field name of the layout
     * @return its value in this tuple
     */
    public int get(String name) {
        return get(layout.field(name));
    }

    /**
     * Tuples are equal when their layouts and values are.
     *
     * @param o another object
     * @return true for an equal tuple
     */
    @Override
    public boolean equals(Object o) {
        return o instanceof Tuple t && t.layout.equals(layout) && Arrays.equals(t.values, values);
    }

    /**
     * A hash of layout and values.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return 31 * layout.hashCode() + Arrays.hashCode(values);
    }

    /**
     * The tuple as text.
     *
     * @return the fields with their values, as in {@code (pkg=3, dep=7)}
     */
    @Override
    public String toString() {
        StringBuilder s = new StringBuilder("(");
        for (int i = 0; i < values.length; i++) {
            s.append(i == 0 ? "" : ", ").append(layout.fields().get(i).name()).append('=').append(values[i]);
        }
        return s.append(')').toString();
    }
}
