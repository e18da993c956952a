package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * The dependency relation of a package database as a tuple set, and its transitive closure.
 *
 * <p>Packages are numbered 0 to n-1 and encoded in k bits. A relation over packages has the fields
 * {@code package} and {@code dependency}; the closure's join goes through a third field, {@code via}.
 * The three are interleaved bit by bit, as analyses over relations declare the fields that meet in
 * them. Package numbers follow no pattern of the relation, so here this gains nothing in size over
 * fields on runs of their own; the README gives the figures of both.
 */
public final class DependencyAnalysis {
    private final Engine engine;
    private final int bits;
    private final Field pkg;
    private final Field dep;
    private final Field via;
    private final Layout pairs;

    /** Declares the three fields on {@code engine}, wide enough for {@code packages} numbers. */
    public DependencyAnalysis(Engine engine, int packages) {
        int k = 1;
        while ((1 << k) < packages) {
            k++;
        }
        this.engine = engine;
        this.bits = k;
        List<Field> fields = engine.interleaved(k, "package", "dependency", "via");
        this.pkg = fields.get(0);
        this.dep = fields.get(1);
        this.via = fields.get(2);
        this.pairs = engine.layout(pkg, dep);
    }

    public int bits() {
        return bits;
    }

    public Field packageField() {
        return pkg;
    }

    public Field dependencyField() {
        return dep;
    }

    /** (package, dependency). */
    public Layout pairs() {
        return pairs;
    }

    /** D(package, dependency): the direct dependencies. */
    public TupleSet directRelation(PackageDatabase db) {
        List<int[]> tuples = new ArrayList<>();
        for (int p = 0; p < db.size(); p++) {
            for (int d : db.dependencies(p)) {
                tuples.add(new int[] {p, d});
            }
        }
        return engine.of(pairs, tuples);
    }

    /** The transitive closure and the number of rounds that reached its fixpoint. */
    public record Closure(TupleSet pairs, int rounds) {}

    /**
     * Semi-naive: only the pairs found in the last round (delta) are extended by one more direct
     * dependency, T := T ∪ (delta ∘ D), until a round finds nothing new. Every pair that an older
     * pair would give was found in an earlier round already.
     */
    public Closure transitiveClosure(TupleSet direct) {
        try (TupleSet edges = direct.rename(Map.of(pkg, dep, dep, via))) {  // D(dependency, via)
            TupleSet closure = direct.copy();
            TupleSet delta = direct.copy();
            int rounds = 0;
            while (!delta.isEmpty()) {
                rounds++;
                // Each step closes the set it was asked of: only closure and delta stay open.
                delta = delta.then(d -> d.join(edges, dep)).then(r -> r.rename(via, dep)).minusWith(closure);
                closure = closure.unionWith(delta);
            }
            delta.close();
            return new Closure(closure, rounds);
        }
    }
}
