package com.zvk.quarnelbrisk.bench;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Combinational circuits of AND gates with complemented inputs, and their netlist file, which both
 * sides of the benchmark read (Workloads and bench/peer/peer_bench.c), so that both build the very
 * same gates in the very same order.
 *
 * <p>A signal is 0 (the constant false), an input 1..I, or a gate I+1..I+G; a literal is twice the
 * signal, plus one when complemented. Input i is diagram variable i-1. The file is text:
 *
 * <pre>
 * circuit NAME I G O
 * A B          G lines: gate I+1+k is the conjunction of literals A and B (both below its own)
 * L            O lines: the output literals
 * </pre>
 *
 * Every circuit is generated from its name and size alone, deterministically.
 */
final class Circuits {
    static final long RANDOM_SEED = 0x636972637569L;  // "circui"
    static final String[] NAMES = {"arbiter", "ripple", "lookahead", "comparator", "majority", "shifter", "random"};

    /** A circuit: gate k is fanin[2k] AND fanin[2k+1]. */
    record Netlist(String name, int inputs, int[] fanin, int[] outputs) {
        int gates() {
            return fanin.length / 2;
        }

        /** The signal of gate k. */
        int gateSignal(int k) {
            return inputs + 1 + k;
        }

        void write(Path file) {
            StringBuilder s = new StringBuilder();
            s.append("circuit ").append(name).append(' ').append(inputs).append(' ').append(gates()).append(' ')
                    .append(outputs.length).append('\n');
            for (int k = 0; k < gates(); k++) {
                s.append(fanin[2 * k]).append(' ').append(fanin[2 * k + 1]).append('\n');
            }
            for (int o : outputs) {
                s.append(o).append('\n');
            }
            try {
                Files.writeString(file, s, StandardCharsets.US_ASCII);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        }

        static Netlist read(Path file) throws IOException {
            List<String> lines = Files.readAllLines(file, StandardCharsets.US_ASCII);
            String[] head = lines.get(0).split(" ");
            int inputs = Integer.parseInt(head[2]);
            int gates = Integer.parseInt(head[3]);
            int[] fanin = new int[2 * gates];
            for (int k = 0; k < gates; k++) {
                String[] ab = lines.get(1 + k).split(" ");
                fanin[2 * k] = Integer.parseInt(ab[0]);
                fanin[2 * k + 1] = Integer.parseInt(ab[1]);
            }
            int[] outputs = new int[Integer.parseInt(head[4])];
            for (int o = 0; o < outputs.length; o++) {
                outputs[o] = Integer.parseInt(lines.get(1 + gates + o));
            }
            return new Netlist(head[1], inputs, fanin, outputs);
        }

        /**
         * The outputs on 64 input vectors at once: bit j of word i is input i+1 of vector j. Returns
         * one word an output.
         */
        long[] simulate(long[] inputWords) {
            long[] value = new long[inputs + 1 + gates()];
            System.arraycopy(inputWords, 0, value, 1, inputs);
            for (int k = 0; k < gates(); k++) {
                value[gateSignal(k)] = literal(value, fanin[2 * k]) & literal(value, fanin[2 * k + 1]);
            }
            long[] out = new long[outputs.length];
            for (int o = 0; o < outputs.length; o++) {
                out[o] = literal(value, outputs[o]);
            }
            return out;
        }

        private static long literal(long[] value, int lit) {
            return (lit & 1) == 0 ? value[lit >> 1] : ~value[lit >> 1];
        }
    }

    /** Writes one circuit's netlist: {@code Circuits NAME SIZE FILE}, for runs of peer_bench by hand. */
    public static void main(String[] args) {
        if (args.length != 3) {
            System.err.println("usage: Circuits " + String.join("|", NAMES) + " SIZE FILE");
            System.exit(2);
        }
        generate(args[0], Integer.parseInt(args[1])).write(Path.of(args[2]));
    }

    /** The 64 random input vectors of the simulation check, the same on both sides: one word an input. */
    static long[] simulationVectors(int inputs) {
        SplitMix64 g = new SplitMix64(RANDOM_SEED ^ 0x5EED);
        long[] w = new long[inputs];
        for (int i = 0; i < inputs; i++) {
            w[i] = g.next();
        }
        return w;
    }

    static Netlist generate(String name, int size) {
        Builder b = new Builder(name);
        switch (name) {
            case "arbiter" -> b.arbiter(size);
            case "ripple" -> b.adder(size, false);
            case "lookahead" -> b.adder(size, true);
            case "comparator" -> b.comparator(size);
            case "majority" -> b.majority(size);
            case "shifter" -> b.shifter(size);
            case "random" -> b.randomLogic(size);
            default -> throw new IllegalArgumentException("unknown circuit " + name);
        }
        return b.netlist();
    }

    /**
     * Builds a netlist gate by gate. Literals as in the file; TRUE and FALSE stand for constants
     * and are folded away, so that no gate of the file reads a constant.
     */
    private static final class Builder {
        static final int FALSE = 0;
        static final int TRUE = 1;
        private final String name;
        private int inputs;
        private final List<Integer> fanin = new ArrayList<>();
        private final List<Integer> outputs = new ArrayList<>();

        Builder(String name) {
            this.name = name;
        }

        Netlist netlist() {
            return new Netlist(name, inputs, fanin.stream().mapToInt(Integer::intValue).toArray(),
                    outputs.stream().mapToInt(Integer::intValue).toArray());
        }

        /** Inputs must all be declared before the first gate. */
        int input() {
            if (!fanin.isEmpty()) {
                throw new IllegalStateException("inputs come before gates");
            }
            return 2 * ++inputs;
        }

        static int not(int a) {
            return a ^ 1;
        }

        int and(int a, int b) {
            if (a == FALSE || b == FALSE || a == not(b)) {
                return FALSE;
            }
            if (a == TRUE || a == b) {
                return b;
            }
            if (b == TRUE) {
                return a;
            }
            fanin.add(a);
            fanin.add(b);
            return 2 * (inputs + fanin.size() / 2);
        }

        int or(int a, int b) {
            return not(and(not(a), not(b)));
        }

        int xor(int a, int b) {
            return or(and(a, not(b)), and(not(a), b));
        }

        int mux(int s, int ifOne, int ifZero) {
            return or(and(s, ifOne), and(not(s), ifZero));
        }

        void output(int lit) {
            if (lit == FALSE || lit == TRUE) {
                throw new IllegalStateException("constant output");
            }
            outputs.add(lit);
        }

        /**
         * A round-robin arbiter of n requesters: requests r and a one-hot priority pointer p,
         * interleaved. Requester i is granted when it requests and the pointer stands at some j
         * such that none of j, j+1, ..., i-1 (cyclically) requests.
         */
        void arbiter(int n) {
            int[] r = new int[n];
            int[] p = new int[n];
            for (int i = 0; i < n; i++) {
                r[i] = input();
                p[i] = input();
            }
            for (int i = 0; i < n; i++) {
                int granted = FALSE;
                int quiet = TRUE;  // none of j+1..i-1 requests
                for (int k = 0; k < n; k++) {
                    int j = Math.floorMod(i - k, n);
                    granted = or(granted, and(p[j], quiet));
                    quiet = and(quiet, not(r[j]));
                }
                output(and(r[i], granted));
            }
        }

        /** a + b + carry-in over n bits, operands interleaved from the low bit: a ripple or a lookahead carry chain. */
        void adder(int n, boolean lookahead) {
            int[] a = new int[n];
            int[] bb = new int[n];
            int cin = input();
            for (int i = 0; i < n; i++) {
                a[i] = input();
                bb[i] = input();
            }
            int[] carry = new int[n + 1];
            carry[0] = cin;
            int[] propagate = new int[n];
            for (int i = 0; i < n; i++) {
                propagate[i] = xor(a[i], bb[i]);
            }
            if (!lookahead) {
                for (int i = 0; i < n; i++) {
                    carry[i + 1] = or(and(a[i], bb[i]), and(propagate[i], carry[i]));
                }
            } else {
                // A parallel prefix over (generate, propagate) pairs; the carry-in is generate of bit -1.
                int[] g = new int[n + 1];
                int[] pp = new int[n + 1];
                g[0] = cin;
                pp[0] = FALSE;
                for (int i = 0; i < n; i++) {
                    g[i + 1] = and(a[i], bb[i]);
                    pp[i + 1] = propagate[i];
                }
                for (int d = 1; d <= n; d *= 2) {
                    int[] ng = g.clone();
                    int[] np = pp.clone();
                    for (int i = d; i <= n; i++) {
                        ng[i] = or(g[i], and(pp[i], g[i - d]));
                        np[i] = and(pp[i], pp[i - d]);
                    }
                    g = ng;
                    pp = np;
                }
                System.arraycopy(g, 0, carry, 0, n + 1);
            }
            for (int i = 0; i < n; i++) {
                output(xor(propagate[i], carry[i]));
            }
            output(carry[n]);
        }

        /**
         * a < b and a = b for n-bit a and b, a's bits all before b's in the order: the diagrams
         * remember the whole of a, so they grow as 2^n.
         */
        void comparator(int n) {
            int[] a = new int[n];
            int[] bb = new int[n];
            for (int i = 0; i < n; i++) {
                a[i] = input();
            }
            for (int i = 0; i < n; i++) {
                bb[i] = input();
            }
            int less = FALSE;
            int equal = TRUE;
            for (int i = n - 1; i >= 0; i--) {  // from the most significant bit down
                less = or(less, and(equal, and(not(a[i]), bb[i])));
                equal = and(equal, not(xor(a[i], bb[i])));
            }
            output(less);
            output(equal);
        }

        /** More than half of n inputs are 1: a tree of ripple adders counts them, then a comparison with a constant. */
        void majority(int n) {
            List<int[]> counts = new ArrayList<>();
            for (int i = 0; i < n; i++) {
                counts.add(new int[] {input()});
            }
            while (counts.size() > 1) {
                List<int[]> next = new ArrayList<>();
                for (int i = 0; i + 1 < counts.size(); i += 2) {
                    next.add(add(counts.get(i), counts.get(i + 1)));
                }
                if (counts.size() % 2 == 1) {
                    next.add(counts.get(counts.size() - 1));
                }
                counts = next;
            }
            int[] count = counts.get(0);
            int threshold = n / 2 + 1;
            int atLeast = TRUE;  // count's low bits are at least threshold's low bits
            for (int i = 0; i < count.length; i++) {
                atLeast = ((threshold >> i) & 1) == 1 ? and(count[i], atLeast) : or(count[i], atLeast);
            }
            for (int i = count.length; i < 31; i++) {
                if (((threshold >> i) & 1) == 1) {
                    atLeast = FALSE;
                }
            }
            output(atLeast);
        }

        /** The sum of two unsigned numbers, low bit first, one bit longer than the longer. */
        private int[] add(int[] x, int[] y) {
            int len = Math.max(x.length, y.length);
            int[] sum = new int[len + 1];
            int carry = FALSE;
            for (int i = 0; i < len; i++) {
                int xi = i < x.length ? x[i] : FALSE;
                int yi = i < y.length ? y[i] : FALSE;
                int p = xor(xi, yi);
                sum[i] = xor(p, carry);
                carry = or(and(xi, yi), and(p, carry));
            }
            sum[len] = carry;
            return sum;
        }

        /** A barrel rotator of n data bits (n a power of two), the rotation amount's bits first in the order. */
        void shifter(int n) {
            int stages = Integer.numberOfTrailingZeros(n);
            int[] s = new int[stages];
            for (int k = 0; k < stages; k++) {
                s[k] = input();
            }
            int[] d = new int[n];
            for (int i = 0; i < n; i++) {
                d[i] = input();
            }
            for (int k = 0; k < stages; k++) {
                int[] next = new int[n];
                for (int i = 0; i < n; i++) {
                    next[i] = mux(s[k], d[Math.floorMod(i - (1 << k), n)], d[i]);
                }
                d = next;
            }
            for (int i = 0; i < n; i++) {
                output(d[i]);
            }
        }

        /**
         * Random control logic of g gates over 64 inputs. Each gate reads two signals, each
         * complemented or not at random: mostly recent ones, now and then an input from a window
         * that slides along the inputs as the gates go on, rarely any signal made so far. The
         * signals that nothing reads are the outputs.
         */
        void randomLogic(int g) {
            SplitMix64 rnd = new SplitMix64(RANDOM_SEED);
            int n = 64;
            int window = 16;
            List<Integer> signals = new ArrayList<>();
            for (int i = 0; i < n; i++) {
                signals.add(input());
            }
            boolean[] read = new boolean[n + 1 + g];
            while (fanin.size() / 2 < g) {
                int base = (int) ((long) (fanin.size() / 2) * (n - window) / g);
                int a = pick(rnd, signals, base, window);
                int c = pick(rnd, signals, base, window);
                if ((a >> 1) == (c >> 1)) {
                    continue;
                }
                read[a >> 1] = true;
                read[c >> 1] = true;
                signals.add(and(a, c));
            }
            for (int s = n + 1; s <= n + g; s++) {
                if (!read[s]) {
                    output(2 * s);
                }
            }
        }

        private static int pick(SplitMix64 rnd, List<Integer> signals, int base, int window) {
            long r = rnd.next();
            int size = signals.size();
            long u = r >>> 8;
            int index = switch ((int) (r & 31)) {
                case 0 -> (int) Long.remainderUnsigned(u, size);  // anything so far
                case 1, 2, 3, 4, 5, 6, 7, 8 -> base + (int) Long.remainderUnsigned(u, window);  // an input
                default -> size - 1 - (int) Long.remainderUnsigned(u, Math.min(size, 32));  // a recent signal
            };
            return signals.get(index) ^ (int) ((r >>> 60) & 1);
        }
    }
}
