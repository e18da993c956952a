package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputFilter;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.OutputStream;
import java.io.UncheckedIOException;
import java.lang.ref.Reference;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CancellationException;

/**
 * Groups of sets on object streams. A saved group is two int arrays: the diagram stream of the
 * engine (the sets' roots in order), then the layouts, as {@code [MAGIC, sets, and per set: fields,
 * its first variables, its widths]}. Loading reads through a filter that lets int arrays through and
 * refuses every other class before an object of it is made.
 */
final class SetStreams {
    private static final int MAGIC = 0x54534554;

    /** Only int arrays, and nothing nested. */
    static final ObjectInputFilter INT_ARRAYS_ONLY = info -> {
        if (info.serialClass() != null) {
            return info.serialClass() == int[].class ? ObjectInputFilter.Status.ALLOWED : ObjectInputFilter.Status.REJECTED;
        }
        return info.depth() > 1 ? ObjectInputFilter.Status.REJECTED : ObjectInputFilter.Status.UNDECIDED;
    };

    private SetStreams() {}

    static void save(Engine engine, OutputStream out, List<TupleSet> sets, Progress progress) throws IOException {
        int[] roots = new int[sets.size()];
        List<Layout> layouts = new ArrayList<>();
        for (int i = 0; i < roots.length; i++) {
            TupleSet s = sets.get(i);
            if (s.engine() != engine) {
                throw new IllegalArgumentException("set " + s + " belongs to another engine");
            }
            roots[i] = s.handle();
            layouts.add(s.layout());
        }
        ObjectOutputStream objects = new ObjectOutputStream(out);
        Callback callback = progress == null ? null : new Callback(progress);
        try {
            BDDManagerNativeProxy.doSerialize(objects, roots, callback, 1.0, "save");
        } finally {
            Reference.reachabilityFence(sets);
        }
        if (callback != null && callback.stopped) {
            throw new CancellationException("saving was cancelled; nothing but the object stream's header was written");
        }
        objects.writeObject(header(layouts));
        objects.flush();
    }

    static List<TupleSet> load(Engine engine, InputStream in, List<Layout> layouts, Progress progress) throws IOException {
        ObjectInputStream objects = new ObjectInputStream(in);
        objects.setObjectInputFilter(INT_ARRAYS_ONLY);
        Callback callback = progress == null ? null : new Callback(progress);
        // A refused class or a broken stream leaves its exception pending, and it is thrown here.
        int[] roots = BDDManagerNativeProxy.doDeserialize(objects, callback, 1.0, "load");
        if (roots == null) {
            throw new CancellationException("loading was cancelled");
        }
        try {
            Object header = objects.readObject();
            if (!(header instanceof int[] ints) || !Arrays.equals(ints, header(layouts)) || roots.length != layouts.size()) {
                throw new IOException("the stream holds " + roots.length + " sets of other layouts than " + layouts);
            }
        } catch (IOException | ClassNotFoundException | RuntimeException e) {
            for (int root : roots) {
                BDDNativeProxy.doDecRefCount(root);
            }
            throw e instanceof IOException io ? io : new IOException(e);
        }
        List<TupleSet> sets = new ArrayList<>();
        for (int i = 0; i < roots.length; i++) {
            sets.add(new TupleSet(engine, layouts.get(i), roots[i]));
        }
        return sets;
    }

    private static int[] header(List<Layout> layouts) {
        List<Integer> ints = new ArrayList<>(List.of(MAGIC, layouts.size()));
        for (Layout l : layouts) {
            ints.add(l.size());
            Arrays.stream(l.firstVars()).forEach(ints::add);
            Arrays.stream(l.widths()).forEach(ints::add);
        }
        return ints.stream().mapToInt(Integer::intValue).toArray();
    }

    /** The diagram stream of one root, as the engine writes it. */
    static int[] diagramInts(int root) {
        try {
            Capture capture = new Capture();
            BDDManagerNativeProxy.doSerialize(capture, new int[] {root}, null, 1.0, "");
            return capture.ints;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Keeps the one object written instead of encoding it. */
    private static final class Capture extends ObjectOutputStream {
        int[] ints;

        Capture() throws IOException {
            super();
        }

        @Override
        protected void writeObjectOverride(Object obj) {
            ints = (int[]) obj;
        }
    }

    /** A {@link Progress} seen as the engine's callback; a refusal cancels at the next step. */
    private static final class Callback implements ThreadCallback {
        private final Progress progress;
        private boolean cancel;
        boolean stopped;

        Callback(Progress progress) {
            this.progress = progress;
        }

        @Override
        public boolean checkCancelled() {
            stopped |= cancel;
            return cancel;
        }

        @Override
        public void informProgress(int done, int total, String message) {
            cancel |= !progress.proceed(done, total);
        }
    }
}
