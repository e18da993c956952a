package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputFilter;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.OutputStream;
import java.lang.ref.Reference;
import java.nio.BufferUnderflowException;
import java.nio.IntBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CancellationException;

/**
 * Groups of sets on object streams. A saved group is two int arrays: the layouts, then the diagram
 * stream of the engine (the sets' roots in order). The layouts' array is
 * {@code [MAGIC, VERSION, sets, and per set: fields, and per field: the name's length, its UTF-16
 * chars, the size, the width, the variables]}; its magic number and version say which format
 * follows, so that the next format can change everything after them. Files of the format before
 * hold the diagram stream first and then {@code [OLD_MAGIC, sets, and per set: fields, their first
 * variables, their widths]}; they still load. Loading reads through a filter that lets int arrays
 * through and refuses every other class before an object of it is made, and checks the layouts of
 * the current format before it builds any node.
 */
final class SetStreams {
    private static final int MAGIC = 0x54534C59;
    private static final int VERSION = 2;
    private static final int OLD_MAGIC = 0x54534554;

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
        Capture diagrams = new Capture();
        Callback callback = progress == null ? null : new Callback(progress);
        try {
            BDDManagerNativeProxy.doSerialize(diagrams, roots, callback, 1.0, "save");
        } finally {
            Reference.reachabilityFence(sets);
        }
        if (callback != null && callback.stopped) {
            throw new CancellationException("saving was cancelled; nothing was written");
        }
        ObjectOutputStream objects = new ObjectOutputStream(out);
        objects.writeObject(header(layouts));
        objects.writeObject(diagrams.ints);
        objects.flush();
    }

    static List<TupleSet> load(Engine engine, InputStream in, List<Layout> layouts, Progress progress) throws IOException {
        ObjectInputStream objects = new ObjectInputStream(in);
        objects.setObjectInputFilter(INT_ARRAYS_ONLY);
        Callback callback = progress == null ? null : new Callback(progress);
        Object first = read(objects);
        boolean current = first instanceof int[] header && header.length > 0 && header[0] == MAGIC;
        if (current) {
            checkLayouts((int[]) first, layouts);
        }
        int[] roots = diagrams(current ? read(objects) : first, callback);
        try {
            if (!current && !(read(objects) instanceof int[] old && Arrays.equals(old, oldHeader(layouts)))) {
                throw new IOException("the stream holds sets of other layouts than " + layouts);
            }
            if (roots.length != layouts.size()) {
                throw new IOException("the stream holds " + roots.length + " sets, not " + layouts.size());
            }
        } catch (IOException | RuntimeException e) {
            for (int root : roots) {
                BDDNativeProxy.doDecRefCount(root);
            }
            throw e;
        }
        List<TupleSet> sets = new ArrayList<>();
        for (int i = 0; i < roots.length; i++) {
            sets.add(new TupleSet(engine, layouts.get(i), roots[i]));
        }
        return sets;
    }

    private static Object read(ObjectInputStream objects) throws IOException {
        try {
            return objects.readObject();
        } catch (ClassNotFoundException e) {
            throw new IOException(e);
        }
    }

    /** The diagrams of a diagram stream, built by the engine; null when the callback cancelled. */
    private static int[] diagrams(Object stream, Callback callback) throws IOException {
        int[] roots = BDDManagerNativeProxy.doDeserialize(new Feed(stream), callback, 1.0, "load");
        if (roots == null) {
            throw new CancellationException("loading was cancelled");
        }
        return roots;
    }

    private static int[] header(List<Layout> layouts) {
        List<Integer> ints = new ArrayList<>(List.of(MAGIC, VERSION, layouts.size()));
        for (Layout l : layouts) {
            ints.add(l.size());
            for (Field f : l.fields()) {
                ints.add(f.name().length());
                f.name().chars().forEach(ints::add);
                ints.add(f.size());
                ints.add(f.width());
                Arrays.stream(f.varList()).forEach(ints::add);
            }
        }
        return ints.stream().mapToInt(Integer::intValue).toArray();
    }

    /**
     * Refuses layouts that do not hold the fields saved, one set after the other: each field by its
     * name, size and variables.
     */
    private static void checkLayouts(int[] header, List<Layout> layouts) throws IOException {
        IntBuffer in = IntBuffer.wrap(header);
        try {
            in.position(1);
            if (in.get() != VERSION) {
                throw new IOException("a stream of sets of version " + header[1] + ", not " + VERSION);
            }
            int sets = in.get();
            for (int s = 0; s < sets; s++) {
                Set<String> saved = new HashSet<>();
                for (int fields = in.get(); fields > 0; fields--) {
                    char[] name = new char[in.get()];
                    for (int i = 0; i < name.length; i++) {
                        name[i] = (char) in.get();
                    }
                    int size = in.get();
                    int[] vars = new int[in.get()];
                    in.get(vars);
                    saved.add(describe(new String(name), size, vars));
                }
                Set<String> given = new HashSet<>();
                if (s < layouts.size()) {
                    layouts.get(s).fields().forEach(f -> given.add(describe(f.name(), f.size(), f.varList())));
                }
                if (!saved.equals(given)) {
                    throw new IOException("set " + s + " was saved over " + saved + ", not " + given);
                }
            }
            if (sets != layouts.size() || in.hasRemaining()) {
                throw new IOException("the stream holds " + sets + " sets, not " + layouts.size());
            }
        } catch (BufferUnderflowException | NegativeArraySizeException e) {
            throw new IOException("the layouts of the stream are cut short or malformed", e);
        }
    }

    private static String describe(String name, int size, int[] vars) {
        return name + "[" + size + "]@" + Arrays.toString(vars);
    }

    /** The layouts as the format before wrote them: fields on runs, each layout in the order of its variables. */
    private static int[] oldHeader(List<Layout> layouts) {
        List<Integer> ints = new ArrayList<>(List.of(OLD_MAGIC, layouts.size()));
        for (Layout l : layouts) {
            List<Field> byVar = new ArrayList<>(l.fields());
            byVar.sort(Comparator.comparingInt(Field::firstVar));
            ints.add(byVar.size());
            byVar.forEach(f -> ints.add(f.isRun() && f.isFull() ? f.firstVar() : -1));
            byVar.forEach(f -> ints.add(f.width()));
        }
        return ints.stream().mapToInt(Integer::intValue).toArray();
    }

    /** Hands the diagram stream, read already, to the engine's reader. */
    private static final class Feed extends ObjectInputStream {
        private final Object stream;
        private boolean read;

        Feed(Object stream) throws IOException {
            this.stream = stream;
        }

        @Override
        protected Object readObjectOverride() throws IOException {
            if (read) {
                throw new EOFException("one diagram stream only");
            }
            read = true;
            return stream;
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
