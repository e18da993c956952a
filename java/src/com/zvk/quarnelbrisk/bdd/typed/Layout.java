package com.zvk.quarnelbrisk.bdd.typed;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Comparator;
import java.util.LinkedHashSet;
import java.util.List;

/**
 * The fields of a tuple, in the engine's order: whatever order they are given in, a layout lists
 * them by their variables, and tuples, listings and bounds follow that order. Two layouts are equal
 * when they hold the same fields. Immutable.
 */
public final class Layout {
    private final Engine engine;
    private final List<Field> fields;
    private final int[] firstVars;
    private final int[] widths;
    private final int[] fieldVars;

    private Layout(Engine engine, List<Field> fields) {
        this.engine = engine;
        this.fields = List.copyOf(fields);
        this.firstVars = fields.stream().mapToInt(Field::firstVar).toArray();
        this.widths = fields.stream().mapToInt(Field::width).toArray();
        this.fieldVars = fields.stream().flatMapToInt(f -> java.util.stream.IntStream.range(f.firstVar(), f.firstVar() + f.width()))
                .toArray();
    }

    /**
     * The layout of these fields, which must be distinct and of one engine.
     *
     * @param fields the fields, in any order
     * @return the layout with the fields in the engine's order
     */
    public static Layout of(Field... fields) {
        return of(Arrays.asList(fields));
    }

    /**
     * The layout of these fields, which must be distinct and of one engine (at least one field).
     *
     * @param fields the fields, in any order
     * @return the layout with the fields in the engine's order
     */
    public static Layout of(Collection<Field> fields) {
        if (fields.isEmpty()) {
            throw new IllegalArgumentException("a layout needs a field; use Engine.layout() for the empty one");
        }
        Engine engine = fields.iterator().next().engine();
        return of(engine, fields);
    }

    static Layout of(Engine engine, Collection<Field> fields) {
        LinkedHashSet<Field> distinct = new LinkedHashSet<>(fields);
        if (distinct.size() != fields.size()) {
            throw new IllegalArgumentException("a field is given twice: " + fields);
        }
        for (Field f : distinct) {
            if (f.engine() != engine) {
                throw new IllegalArgumentException("field " + f + " belongs to another engine");
            }
        }
        List<Field> sorted = new ArrayList<>(distinct);
        sorted.sort(Comparator.comparingInt(Field::firstVar));
        return new Layout(engine, sorted);
    }

    /**
     * The fields in the engine's order.
     *
     * @return an unmodifiable list
     */
    public List<Field> fields() {
        return fields;
    }

    /**
     * The number of fields.
     *
     * @return the length of a tuple of this layout
     */
    public int size() {
        return fields.size();
    }

    /**
     * Where a field stands in a tuple of this layout.
     *
     * @param field a field
     * @return its index, or -1 when the layout does not hold it
     */
    public int indexOf(Field field) {
        return fields.indexOf(field);
    }

    /**
     * Whether the layout holds a field.
     *
     * @param field a field
     * @return true when it does
     */
    public boolean contains(Field field) {
        return fields.contains(field);
    }

    /**
     * The field of that name.
     *
     * @param name a field name
     * @return the field
     * @throws IllegalArgumentException when the layout has no field of that name
     */
    public Field field(String name) {
        for (Field f : fields) {
            if (f.name().equals(name)) {
                return f;
            }
        }
        throw new IllegalArgumentException("no field " + name + " in " + this);
    }

    Engine engine() {
        return engine;
    }

    /** The first variables and widths as the natives take them; never handed out. */
    int[] firstVars() {
        return firstVars;
    }

    int[] widths() {
        return widths;
    }

    /** Each field's variables, most significant bit first, one field after the other. */
    int[] fieldVars() {
        return fieldVars;
    }

    /** This layout with some fields taken out and others added (once each). */
    Layout change(Collection<Field> removed, Collection<Field> added) {
        List<Field> next = new ArrayList<>(fields);
        next.removeAll(removed);
        for (Field f : added) {
            if (!next.contains(f)) {
                next.add(f);
            }
        }
        return of(engine, next);
    }

    /**
     * Layouts are equal when they hold the same fields.
     *
     * @param o another object
     * @return true for a layout of the same fields
     */
    @Override
    public boolean equals(Object o) {
        return o instanceof Layout other && other.fields.equals(fields);
    }

    /**
     * A hash of the fields.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return fields.hashCode();
    }

    /**
     * The layout as text.
     *
     * @return the fields in order, as in {@code (pkg:16@0, dep:16@16)}
     */
    @Override
    public String toString() {
        return fields.toString().replace('[', '(').replace(']', ')');
    }
}
