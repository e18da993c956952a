package com.zvk.quarnelbrisk.bdd.nativeproxy;

import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;

/**
 * A plain Java model of reduced ordered diagrams and of their stream, written without the engine:
 * the tests compare the engine's streams with it and judge mutated streams by it.
 *
 * <p>Model node 0 is the empty set, 1 the full set; the others are hash-consed triples, so two
 * model nodes are equal exactly when they are the same set.
 */
final class StreamModel {
    private final List<int[]> nodes = new ArrayList<>();
    private final Map<List<Integer>, Integer> unique = new HashMap<>();

    StreamModel() {
        nodes.add(new int[] {32766, 0, 0});
        nodes.add(new int[] {32767, 1, 1});
    }

    int var(int n) {
        return nodes.get(n)[0];
    }

    int mk(int var, int low, int high) {
        if (low == high) {
            return low;
        }
        return unique.computeIfAbsent(List.of(var, low, high), k -> {
            nodes.add(new int[] {var, low, high});
            return nodes.size() - 1;
        });
    }

    /** Random roots over variables from {@code firstVar}, a few nodes per variable, sharing parts. */
    int[] randomRoots(Random rnd, int firstVar, int vars, int perVar, int rootCount) {
        List<Integer> pool = new ArrayList<>(List.of(0, 1));
        for (int v = firstVar + vars - 1; v >= firstVar; v--) {
            int below = pool.size();
            for (int i = 0; i < perVar; i++) {
                int n = mk(v, pool.get(rnd.nextInt(below)), pool.get(rnd.nextInt(below)));
                if (n > 1 && var(n) == v) {
                    pool.add(n);
                }
            }
        }
        int[] roots = new int[rootCount];
        for (int j = 0; j < rootCount; j++) {
            roots[j] = pool.get(rnd.nextInt(pool.size()));
        }
        return roots;
    }

    /** The stream of these roots: pre-order numbers, post-order records, then the root numbers. */
    int[] encode(int... roots) {
        Map<Integer, Integer> number = new HashMap<>(Map.of(0, 0, 1, 1));
        for (int r : roots) {
            numberFrom(r, number);
        }
        List<Integer> out = new ArrayList<>(List.of(roots.length, number.size()));
        Map<Integer, Boolean> emitted = new HashMap<>();
        for (int r : roots) {
            emitFrom(r, number, emitted, out);
        }
        for (int r : roots) {
            out.add(number.get(r));
        }
        return out.stream().mapToInt(Integer::intValue).toArray();
    }

    private void numberFrom(int n, Map<Integer, Integer> number) {
        if (number.containsKey(n)) {
            return;
        }
        number.put(n, number.size());
        numberFrom(nodes.get(n)[1], number);
        numberFrom(nodes.get(n)[2], number);
    }

    private void emitFrom(int n, Map<Integer, Integer> number, Map<Integer, Boolean> emitted, List<Integer> out) {
        if (n <= 1 || emitted.putIfAbsent(n, true) != null) {
            return;
        }
        int[] node = nodes.get(n);
        emitFrom(node[1], number, emitted, out);
        emitFrom(node[2], number, emitted, out);
        out.addAll(List.of(number.get(n), node[0], number.get(node[1]), number.get(node[2])));
    }

    /** The model nodes of the roots of a valid stream. */
    int[] decode(int[] s) {
        int[] node = new int[s[1]];
        node[1] = 1;
        int rootsAt = 4 * s[1] - 6;
        for (int at = 2; at < rootsAt; at += 4) {
            node[s[at]] = mk(s[at + 1], node[s[at + 2]], node[s[at + 3]]);
        }
        int[] roots = new int[s[0]];
        for (int j = 0; j < roots.length; j++) {
            roots[j] = node[s[rootsAt + j]];
        }
        return roots;
    }

    /** The first rule that the ints break, or null for a valid stream. */
    static String problem(int[] s) {
        if (s.length < 2 || s[0] < 0 || s[1] < 2 || 4L * s[1] + s[0] - 6 != s.length) {
            return "length";
        }
        int n = s[1];
        int rootsAt = 4 * n - 6;
        int[] var = new int[n];
        java.util.Arrays.fill(var, -1);
        var[0] = 32766;
        var[1] = 32767;
        int[][] children = new int[n][];
        for (int at = 2; at < rootsAt; at += 4) {
            int num = s[at];
            int low = s[at + 2];
            int high = s[at + 3];
            if (num < 2 || num >= n || var[num] >= 0) {
                return "number";
            }
            if (low < 0 || low >= n || var[low] < 0 || high < 0 || high >= n || var[high] < 0) {
                return "child";
            }
            if (low == high) {
                return "redundant";
            }
            if (s[at + 1] < 0 || s[at + 1] >= Math.min(var[low], var[high])) {
                return "order";
            }
            var[num] = s[at + 1];
            children[num] = new int[] {low, high};
        }
        boolean[] reached = new boolean[n];
        ArrayDeque<Integer> work = new ArrayDeque<>();
        for (int j = rootsAt; j < s.length; j++) {
            if (s[j] < 0 || s[j] >= n) {
                return "root";
            }
            work.add(s[j]);
        }
        while (!work.isEmpty()) {
            int m = work.poll();
            if (!reached[m] && m > 1) {
                work.add(children[m][0]);
                work.add(children[m][1]);
            }
            reached[m] = true;
        }
        for (int m = 2; m < n; m++) {
            if (!reached[m]) {
                return "unreachable";
            }
        }
        return null;
    }
}
