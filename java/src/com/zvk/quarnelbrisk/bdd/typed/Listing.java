package com.zvk.quarnelbrisk.bdd.typed;

import java.util.Arrays;
import java.util.Spliterator;
import java.util.function.Consumer;

/**
 * The tuples of a set in the listing order, asked of the engine a page at a time, each page from the
 * last tuple of the one before: memory holds one page, whatever the size of the set.
 */
final class Listing implements Spliterator<Tuple> {
    /** Tuples asked of the engine at a time. */
    static final int PAGE = 4096;

    private final TupleSet set;
    private final int[] bounds;
    private int[] start;
    private boolean after;
    private long left;
    private int[] page = {0};
    private int next;
    private boolean last;

    /** At most {@code limit} tuples within the bounds (or null), from {@code start} (or null) on. */
    Listing(TupleSet set, int[] bounds, int[] start, long limit) {
        this.set = set;
        this.bounds = bounds;
        this.start = start;
        this.left = limit;
        this.last = limit == 0;
    }

    /** A copy of listing bounds, one per field and none negative; null stays null. */
    static int[] checkedBounds(Layout layout, int[] bounds) {
        if (bounds == null) {
            return null;
        }
        if (bounds.length != layout.size() || Arrays.stream(bounds).anyMatch(b -> b < 0)) {
            throw new IllegalArgumentException("listing bounds " + Arrays.toString(bounds)
                    + " are not one bound of 0 or more for each field of " + layout);
        }
        return bounds.clone();
    }

    @Override
    public boolean tryAdvance(Consumer<? super Tuple> action) {
        if (next == page[0]) {
            if (last) {
                return false;
            }
            int ask = (int) Math.min(PAGE, left);
            page = set.page(bounds, start, after, ask);
            next = 0;
            left -= page[0];
            int n = set.layout().size();
            // A page cut short is the end; so is the one tuple of the empty layout.
            last = page[0] < ask || left == 0 || n == 0;
            if (page[0] == 0) {
                return false;
            }
            start = Arrays.copyOfRange(page, 1 + (page[0] - 1) * n, 1 + page[0] * n);
            after = true;
        }
        int n = set.layout().size();
        action.accept(new Tuple(set.layout(), Arrays.copyOfRange(page, 1 + next * n, 1 + (next + 1) * n)));
        next++;
        return true;
    }

    @Override
    public Spliterator<Tuple> trySplit() {
        return null;
    }

    @Override
    public long estimateSize() {
        return Long.MAX_VALUE;
    }

    @Override
    public int characteristics() {
        return ORDERED | DISTINCT | NONNULL | IMMUTABLE;
    }
}
