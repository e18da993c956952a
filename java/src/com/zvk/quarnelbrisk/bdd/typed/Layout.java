package com.zvk.quarnelbrisk.bdd.typed;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.HashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Collectors;

/**
 * The fields of a tuple, in the order the caller gave them: tuples of the layout are built, listed
 * and printed with their values in this order, wherever the fields' variables lie. Two layouts are
 * equal when they hold the same fields in the same order; sets whose layouts hold the same fields in
 * another order still combine (see {@link #sameFields}). Immutable.
 */
public final class Layout {
    private final Engine engine;
    private final List<Field> fields;
    private final int[] widths;
    private final int[] fieldVars;
    // Worked out once, since operations read them on every call: the fields that need their domain's
    // constraint, and (for a layout of more than a few fields, when first asked) where each field
    // stands.
    private final List<Field> partialFields;
    private Map<Field, Integer> positions;
    /** Up to this many fields, a search along the list is as quick as the table of positions. */
    private static final int FEW = 8;

    private Layout(Engine engine, List<Field> fields) {
        this.engine = engine;
        this.fields = List.copyOf(fields);
        this.widths = fields.stream().mapToInt(Field::width).toArray();
        this.fieldVars = fields.stream().flatMapToInt(f -> Arrays.stream(f.varList())).toArray();
        this.partialFields = fields.stream().filter(f -> !f.isFull()).toList();
    }

    /**
     * The layout of these fields, which must be distinct and of one engine.
     *
     * @param fields the fields, in the order of the layout's tuples
     * @return the layout
     */
    public static Layout of(Field... fields) {
        return of(Arrays.asList(fields));
    }

    /**
     * The layout of these fields, which must be distinct and of one engine (at least one field).
     *
     * @param fields the fields, in the order of the layout's tuples
     * @return the layout
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
        return new Layout(engine, new ArrayList<>(distinct));
    }

    /**
     * The fields in the layout's order.
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
        if (fields.size() <= FEW) {
            return fields.indexOf(field);
        }
        Map<Field, Integer> at = positions;
        if (at == null) {
            Map<Field, Integer> built = new HashMap<>();
            for (int i = 0; i < fields.size(); i++) {
                built.put(fields.get(i), i);
            }
            at = Map.copyOf(built);  // immutable, so a race only builds it twice
            positions = at;
        }
        return at.getOrDefault(field, -1);
    }

    /**
     * Whether the layout holds a field.
     *
     * @param field a field
     * @return true when it does
     */
    public boolean contains(Field field) {
        return indexOf(field) >= 0;
    }

    /**
     * Whether two layouts hold the same fields, in any order: the sets of such layouts combine.
     *
     * @param other another layout
     * @return true when the fields are the same
     */
    public boolean sameFields(Layout other) {
        if (other == this || other.fields.equals(fields)) {
            return true;
        }
        if (other.fields.size() != fields.size()) {
            return false;
        }
        for (Field f : other.fields) {
            if (!contains(f)) {
                return false;
            }
        }
        return true;
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

    /** Each field's width, as the natives take them; never handed out. */
    int[] widths() {
        return widths;
    }

    /** Each field's variables, most significant bit first, one field after the other. */
    int[] fieldVars() {
        return fieldVars;
    }

    /** The layout of these fields followed by those of {@code added} that are new, minus {@code removed}. */
    Layout change(Collection<Field> removed, Collection<Field> added) {
        Set<Field> next = new LinkedHashSet<>(fields);
        next.addAll(added);
        next.removeAll(removed);
        return of(engine, next);
    }

    /** The variables of some fields, in no particular order. */
    static int[] varsOf(Collection<Field> fields) {
        return fields.stream().flatMapToInt(f -> Arrays.stream(f.varList())).toArray();
    }

    /** The fields whose domain is not a whole power of two: a set over them needs their constraint. */
    List<Field> partialFields() {
        return partialFields;
    }

    /**
     * Layouts are equal when they hold the same fields in the same order.
     *
     * @param o another object
     * @return true for a layout of the same fields in the same order
     */
    @Override
    public boolean equals(Object o) {
        return o instanceof Layout other && other.fields.equals(fields);
    }

    /**
     * A hash of the fields in order.
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
     * @return the fields in order, as in {@code (dep:16@16, pkg:16@0)}
     */
    @Override
    public String toString() {
        return fields.stream().map(Field::toString).collect(Collectors.joining(", ", "(", ")"));
    }
}
