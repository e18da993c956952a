package com.zvk.quarnelbrisk.bdd.typed;

import java.util.BitSet;

/**
 * Graphviz DOT text of one diagram, read from the ints of its description (the diagram stream's
 * format):
 * {@code [roots, nodes, records of (number, var, low, high) ..., root numbers]}, numbers 0 and 1
 * standing for the empty and the full set.
 */
final class Dot {
    private Dot() {}

    static String render(Layout layout, int[] stream) {
        int records = stream[1] - 2;
        int root = stream[2 + 4 * records];
        StringBuilder out = new StringBuilder("digraph tuples {\n");
        out.append("  // tuples over ").append(layout).append("; dashed: bit 0, solid: bit 1\n");
        out.append("  node [shape=ellipse];\n");
        out.append("  set [shape=plaintext, label=\"set\"];\n");
        BitSet terminals = new BitSet(2);
        mark(terminals, root);
        for (int k = 0; k < records; k++) {
            int at = 2 + 4 * k;
            int number = stream[at];
            int low = stream[at + 2];
            int high = stream[at + 3];
            out.append("  n").append(number).append(" [label=\"").append(label(layout, stream[at + 1])).append("\"];\n");
            out.append("  n").append(number).append(" -> n").append(low).append(" [style=dashed];\n");
            out.append("  n").append(number).append(" -> n").append(high).append(";\n");
            mark(terminals, low);
            mark(terminals, high);
        }
        for (int t = terminals.nextSetBit(0); t >= 0; t = terminals.nextSetBit(t + 1)) {
            out.append("  n").append(t).append(" [shape=box, label=\"").append(t).append("\"];\n");
        }
        out.append("  set -> n").append(root).append(";\n}\n");
        return out.toString();
    }

    private static void mark(BitSet terminals, int number) {
        if (number < 2) {
            terminals.set(number);
        }
    }

    /** "dep bit 3" for the variable of bit 3 (0 the least significant) of field dep. */
    private static String label(Layout layout, int var) {
        for (Field f : layout.fields()) {
            int[] vars = f.varList();
            for (int i = 0; i < vars.length; i++) {
                if (vars[i] == var) {
                    return f.name() + " bit " + (vars.length - 1 - i);
                }
            }
        }
        return "variable " + var;
    }
}
