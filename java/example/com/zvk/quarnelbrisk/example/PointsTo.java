package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.io.BufferedWriter;
import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A points-to analysis in the Datalog style over tuple sets: which heap objects each variable may
 * point to, through assignments, field loads and stores, and virtual calls, context-insensitive.
 *
 * <pre>
 * pt(v, h)       :- new(v, h).
 * pt(v1, h)      :- assign(v1, v2), pt(v2, h).
 * hpt(h1, f, h2) :- store(v1, f, v2), pt(v1, h1), pt(v2, h2).       (v1.f = v2)
 * pt(v1, h2)     :- load(v1, v2, f), pt(v2, h1), hpt(h1, f, h2).    (v1 = v2.f)
 * recv(i, h, m)  :- call(i, v, n), pt(v, h), dispatch(h, n, m).     (call site i: v.n(...))
 * target(i, m)   :- recv(i, _, m).
 * pt(v, h)       :- recv(_, h, m), thisVar(m, v).
 * pt(v, h)       :- target(i, m), param(m, v), actual(i, a), pt(a, h).
 * pt(v, h)       :- target(i, m), ret(m, r), result(i, v), pt(r, h).
 * </pre>
 *
 * The rules are evaluated naively to their fixpoint, every rule a relational product of two
 * relations at a time. The variables of two roles ({@code v0}, {@code v1}) are interleaved bit by
 * bit, and so are the heap objects' ({@code h0}, {@code h1}), so that the relations between them stay
 * small; the order of the fields is field, name, site, method, then v0 x v1, then h0 x h1.
 */
public final class PointsTo {
    /** The input: the size of each domain and the facts of each relation, in the order of {@link #RELATIONS}. */
    public record Facts(int variables, int heaps, int fields, int names, int methods, int sites,
            Map<String, List<int[]>> relations) {}

    /** The relations of the input, their arity, and their share of the facts in hundredths. */
    public static final List<String> RELATIONS = List.of("new", "assign", "load", "store", "call", "actual", "result",
            "dispatch", "thisVar", "param", "ret");

    private static final int[] ARITY = {2, 2, 3, 3, 3, 2, 2, 3, 2, 2, 2};
    private static final int[] SHARE = {12, 30, 10, 10, 8, 8, 8, 8, 2, 2, 2};
    private static final int VARIABLES_PER_METHOD = 20;

    /** What the analysis found. */
    public record Result(TupleSet pointsTo, TupleSet heapPointsTo, TupleSet targets, int rounds) implements AutoCloseable {
        @Override
        public void close() {
            pointsTo.close();
            heapPointsTo.close();
            targets.close();
        }
    }

    private PointsTo() {}

    /**
     * A program of about {@code facts} facts, made from one seed: variables belong to methods (20 a
     * method), most assignments, loads and stores stay within one method, call sites use variables
     * of their calling method, and each method has a this, a parameter and a return variable.
     *
     * @param facts about how many facts
     * @param seed the seed
     * @return the facts
     */
    public static Facts generate(int facts, long seed) {
        int[] count = new int[SHARE.length];
        for (int r = 0; r < SHARE.length; r++) {
            count[r] = Math.max(1, facts * SHARE[r] / 100);
        }
        int methods = count[8];
        int variables = methods * VARIABLES_PER_METHOD;
        int heaps = count[0];
        int sites = count[4];
        int fields = Math.max(2, facts / 100);
        int names = Math.max(2, facts / 10_000);
        long[] state = {seed};
        Map<String, List<int[]>> relations = new LinkedHashMap<>();
        for (String name : RELATIONS) {
            relations.put(name, new ArrayList<>());
        }
        for (int h = 0; h < heaps; h++) {
            relations.get("new").add(new int[] {below(state, variables), h});
        }
        for (String name : List.of("assign", "load", "store")) {
            for (int k = 0; k < count[RELATIONS.indexOf(name)]; k++) {
                int method = below(state, methods);
                boolean local = below(state, 10) != 0;
                int a = local ? varOf(method, below(state, VARIABLES_PER_METHOD)) : below(state, variables);
                int b = local ? varOf(method, below(state, VARIABLES_PER_METHOD)) : below(state, variables);
                int f = below(state, fields);
                relations.get(name).add(switch (name) {
                    case "assign" -> new int[] {a, b};
                    case "load" -> new int[] {a, b, f};
                    default -> new int[] {a, f, b};
                });
            }
        }
        for (int i = 0; i < sites; i++) {
            int caller = below(state, methods);
            relations.get("call").add(new int[] {i, varOf(caller, below(state, VARIABLES_PER_METHOD)), below(state, names)});
            relations.get("actual").add(new int[] {i, varOf(caller, below(state, VARIABLES_PER_METHOD))});
            relations.get("result").add(new int[] {i, varOf(caller, below(state, VARIABLES_PER_METHOD))});
        }
        for (int k = 0; k < count[7]; k++) {
            relations.get("dispatch").add(new int[] {below(state, heaps), below(state, names), below(state, methods)});
        }
        for (int m = 0; m < methods; m++) {
            relations.get("thisVar").add(new int[] {m, varOf(m, 0)});
            relations.get("param").add(new int[] {m, varOf(m, 1)});
            relations.get("ret").add(new int[] {m, varOf(m, 2)});
        }
        return new Facts(variables, heaps, fields, names, methods, sites, relations);
    }

    private static int varOf(int method, int local) {
        return method * VARIABLES_PER_METHOD + local;
    }

    /** The next value of a SplitMix64 sequence, below {@code bound}. */
    private static int below(long[] state, int bound) {
        long z = state[0] += 0x9E3779B97F4A7C15L;
        z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
        z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
        z ^= z >>> 31;
        return (int) Long.remainderUnsigned(z, bound);
    }

    /**
     * Writes the facts in the text form that the peer benchmark reads: a line {@code pointsto V H F
     * N M I} with the domain sizes, then per relation a line {@code NAME ARITY COUNT} and its facts,
     * one a line.
     *
     * @param facts the facts
     * @param file where to write
     * @throws IOException when writing fails
     */
    public static void write(Facts facts, Path file) throws IOException {
        try (BufferedWriter w = Files.newBufferedWriter(file); PrintWriter out = new PrintWriter(w)) {
            out.printf("pointsto %d %d %d %d %d %d%n", facts.variables(), facts.heaps(), facts.fields(), facts.names(),
                    facts.methods(), facts.sites());
            for (int r = 0; r < RELATIONS.size(); r++) {
                List<int[]> rows = facts.relations().get(RELATIONS.get(r));
                out.printf("%s %d %d%n", RELATIONS.get(r), ARITY[r], rows.size());
                for (int[] row : rows) {
                    StringBuilder line = new StringBuilder();
                    for (int value : row) {
                        line.append(line.length() == 0 ? "" : " ").append(value);
                    }
                    out.println(line);
                }
            }
        }
    }

    /**
     * Reads facts that {@link #write} wrote.
     *
     * @param file the file
     * @return the facts
     * @throws IOException when reading fails or the file is not in that form
     */
    public static Facts read(Path file) throws IOException {
        List<String> lines = Files.readAllLines(file);
        String[] head = lines.get(0).split(" ");
        if (!head[0].equals("pointsto") || head.length != 7) {
            throw new IOException(file + " does not begin with a pointsto line");
        }
        Map<String, List<int[]>> relations = new LinkedHashMap<>();
        int at = 1;
        for (String name : RELATIONS) {
            String[] h = lines.get(at++).split(" ");
            if (!h[0].equals(name)) {
                throw new IOException(file + ": relation " + name + " expected, " + h[0] + " found");
            }
            List<int[]> rows = new ArrayList<>();
            for (int k = Integer.parseInt(h[2]); k > 0; k--) {
                String[] values = lines.get(at++).split(" ");
                int[] row = new int[values.length];
                for (int c = 0; c < values.length; c++) {
                    row[c] = Integer.parseInt(values[c]);
                }
                rows.add(row);
            }
            relations.put(name, rows);
        }
        return new Facts(Integer.parseInt(head[1]), Integer.parseInt(head[2]), Integer.parseInt(head[3]),
                Integer.parseInt(head[4]), Integer.parseInt(head[5]), Integer.parseInt(head[6]), relations);
    }

    /** The bits that hold the values 0 .. size - 1, at least one. */
    private static int bits(int size) {
        return Math.max(1, 32 - Integer.numberOfLeadingZeros(size - 1));
    }

    /**
     * Runs the analysis to its fixpoint on a fresh engine's fields.
     *
     * @param engine the engine whose fields are declared here
     * @param facts the input
     * @return pt(v0, h0), hpt(h0, field, h1) and target(site, method), which the caller owns
     */
    public static Result analyse(Engine engine, Facts facts) {
        Field field = engine.field("field", bits(facts.fields()));
        Field name = engine.field("name", bits(facts.names()));
        Field site = engine.field("site", bits(facts.sites()));
        Field method = engine.field("method", bits(facts.methods()));
        List<Field> v = engine.interleaved(bits(facts.variables()), "v0", "v1");
        List<Field> h = engine.interleaved(bits(facts.heaps()), "h0", "h1");
        Field v0 = v.get(0);
        Field v1 = v.get(1);
        Field h0 = h.get(0);
        Field h1 = h.get(1);
        Map<String, Layout> layouts = Map.ofEntries(Map.entry("new", engine.layout(v0, h0)),
                Map.entry("assign", engine.layout(v0, v1)), Map.entry("load", engine.layout(v0, v1, field)),
                Map.entry("store", engine.layout(v0, field, v1)), Map.entry("call", engine.layout(site, v0, name)),
                Map.entry("actual", engine.layout(site, v0)), Map.entry("result", engine.layout(site, v0)),
                Map.entry("dispatch", engine.layout(h0, name, method)), Map.entry("thisVar", engine.layout(method, v0)),
                Map.entry("param", engine.layout(method, v0)), Map.entry("ret", engine.layout(method, v0)));
        Map<String, TupleSet> in = new LinkedHashMap<>();
        for (String r : RELATIONS) {
            in.put(r, engine.of(layouts.get(r), facts.relations().get(r)));
        }
        Map<Field, Field> toV1 = Map.of(v0, v1);
        Map<Field, Field> toV1H1 = Map.of(v0, v1, h0, h1);
        Map<Field, Field> toH0 = Map.of(h1, h0);
        try (TupleSet actualV1 = in.get("actual").rename(toV1); TupleSet retV1 = in.get("ret").rename(toV1)) {
            TupleSet pt = in.get("new").copy();
            TupleSet hpt = engine.empty(engine.layout(h0, field, h1));
            TupleSet target = engine.empty(engine.layout(site, method));
            int rounds = 0;
            for (boolean changed = true; changed; ) {
                rounds++;
                try (TupleSet ptV1 = pt.rename(toV1); TupleSet ptV1H1 = pt.rename(toV1H1);
                        TupleSet a = in.get("assign").join(ptV1, v1);
                        TupleSet s1 = in.get("store").join(pt, v0); TupleSet s = s1.join(ptV1H1, v1);
                        TupleSet l1 = in.get("load").join(ptV1, v1); TupleSet l = l1.join(hpt, h0, field);
                        TupleSet lH0 = l.rename(toH0);
                        TupleSet c1 = in.get("call").join(pt, v0); TupleSet recv = c1.join(in.get("dispatch"), name);
                        TupleSet th1 = recv.join(in.get("thisVar"), method); TupleSet th = th1.project(v0, h0);
                        TupleSet p1 = actualV1.join(ptV1, v1)) {
                    target.close();
                    target = recv.project(site, method);
                    try (TupleSet p2 = p1.join(target, site); TupleSet p = p2.join(in.get("param"), method);
                            TupleSet r1 = retV1.join(ptV1, v1); TupleSet r2 = r1.join(target, method);
                            TupleSet r = r2.join(in.get("result"), site)) {
                        TupleSet grown = pt.union(a);
                        for (TupleSet part : List.of(lH0, th, p, r)) {
                            grown = grown.unionWith(part);
                        }
                        TupleSet hptGrown = hpt.union(s);
                        changed = !grown.equals(pt) || !hptGrown.equals(hpt);
                        pt.close();
                        hpt.close();
                        pt = grown;
                        hpt = hptGrown;
                    }
                }
            }
            in.values().forEach(TupleSet::close);
            return new Result(pt, hpt, target, rounds);
        }
    }
}
