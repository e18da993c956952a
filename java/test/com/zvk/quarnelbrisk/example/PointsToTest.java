package com.zvk.quarnelbrisk.example;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Tuple;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.util.Arrays;
import java.util.BitSet;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/** The points-to analysis over tuple sets against a plain fixpoint of the same rules over sets of tuples. */
class PointsToTest {
    private static Set<List<Integer>> asSet(TupleSet s) {
        return s.tuples().stream().map(t -> Arrays.stream(t.values()).boxed().toList()).collect(Collectors.toSet());
    }

    /**
     * The rules of PointsTo over bit sets: pt[v] the objects v may point to, hpt[h][f] those that
     * field f of h may hold; applied in place until nothing changes, which reaches the same least
     * fixpoint. The results as sets of tuples.
     */
    private static List<Set<List<Integer>>> plainFixpoint(PointsTo.Facts f) {
        Map<String, List<int[]>> in = f.relations();
        BitSet[] pt = new BitSet[f.variables()];
        BitSet[][] hpt = new BitSet[f.heaps()][f.fields()];
        Arrays.setAll(pt, v -> new BitSet());
        Arrays.stream(hpt).forEach(row -> Arrays.setAll(row, k -> new BitSet()));
        in.get("new").forEach(r -> pt[r[0]].set(r[1]));
        Set<List<Integer>> recv = new HashSet<>();
        for (int before = -1, now = 0; before != now; ) {
            before = now;
            in.get("assign").forEach(r -> pt[r[0]].or(pt[r[1]]));
            in.get("store").forEach(r -> pt[r[0]].stream().forEach(h -> hpt[h][r[1]].or(pt[r[2]])));
            in.get("load").forEach(r -> pt[r[1]].stream().forEach(h -> pt[r[0]].or(hpt[h][r[2]])));
            recv.clear();
            in.get("call").forEach(c -> in.get("dispatch").stream().filter(d -> d[1] == c[2] && pt[c[1]].get(d[0]))
                    .forEach(d -> recv.add(List.of(c[0], d[0], d[2]))));
            recv.forEach(r -> in.get("thisVar").stream().filter(t -> t[0] == r.get(2)).forEach(t -> pt[t[1]].set(r.get(1))));
            for (List<Integer> r : recv) {
                for (String[] flow : new String[][] {{"param", "actual"}, {"ret", "result"}}) {
                    boolean in2 = flow[0].equals("param");
                    in.get(flow[0]).stream().filter(p -> p[0] == r.get(2)).forEach(p -> in.get(flow[1]).stream()
                            .filter(a -> a[0] == r.get(0)).forEach(a -> pt[in2 ? p[1] : a[1]].or(pt[in2 ? a[1] : p[1]])));
                }
            }
            now = Arrays.stream(pt).mapToInt(BitSet::cardinality).sum()
                    + Arrays.stream(hpt).flatMap(Arrays::stream).mapToInt(BitSet::cardinality).sum();
        }
        int fields = f.fields();
        Set<List<Integer>> ptSet = IntStream.range(0, pt.length).boxed()
                .flatMap(v -> pt[v].stream().mapToObj(h -> List.of(v, h))).collect(Collectors.toSet());
        Set<List<Integer>> hptSet = IntStream.range(0, f.heaps() * fields).boxed().flatMap(i -> hpt[i / fields][i % fields]
                .stream().mapToObj(h2 -> List.of(i / fields, i % fields, h2))).collect(Collectors.toSet());
        return List.of(ptSet, hptSet, recv.stream().map(r -> List.of(r.get(0), r.get(2))).collect(Collectors.toSet()));
    }

    @Test
    void theAnalysisFindsWhatAPlainFixpointOfItsRulesFinds() {
        PointsTo.Facts facts = PointsTo.generate(1500, 42);
        List<Set<List<Integer>>> expected = plainFixpoint(facts);
        try (PointsTo.Result r = PointsTo.analyse(Engine.start(), facts)) {
            assertEquals(expected, List.of(asSet(r.pointsTo()), asSet(r.heapPointsTo()), asSet(r.targets())));
            assertTrue(expected.get(2).size() > 10 && expected.get(1).size() > 10, "calls resolve and fields hold objects");
            Tuple any = r.pointsTo().tuples(1, null).get(0);
            assertEquals(List.of("v0", "h0"), any.layout().fields().stream().map(f -> f.name()).toList());
        }
    }
}
