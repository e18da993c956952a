package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.NativeBDDException;
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.ByteArrayInputStream;
import java.io.DataInputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputFilter;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.ObjectStreamException;
import java.io.OutputStream;
import java.io.SequenceInputStream;
import java.lang.ref.Reference;
import java.nio.BufferUnderflowException;
import java.nio.ByteBuffer;
import java.nio.IntBuffer;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.Comparator;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.CancellationException;
import java.util.zip.CRC32C;
import java.util.zip.CheckedInputStream;
import java.util.zip.CheckedOutputStream;

/**
 * Files of saved sets. The format of this engine, version 3, is a sequence of big-endian ints:
 * {@code [MAGIC, 3, H, S, the layouts (H ints), the diagram stream (S ints), CRC-32C]}, the checksum
 * taken over the bytes of everything before it. The layouts are {@code [sets, and per set: fields,
 * and per field: the name's length, its UTF-16 chars, the size, the width, the variables]}; the
 * diagram stream is the engine's, with the sets' roots in order. The formats before were Java object
 * streams of int arrays without a checksum: version 2 the array {@code [MAGIC_2, 2, the layouts]}
 * and then the diagram stream, version 1 the diagram stream and then {@code [MAGIC_1, sets, and per
 * set: fields, their first variables, their widths]}. Loading reads the whole file and checks all of
 * it (the checksum, the layouts, every rule of the diagram stream, and that each set tests only its
 * layout's variables) before the engine builds a node.
 */
final class SetStreams {
    private static final int MAGIC = 0x54555053;
    private static final int VERSION = 3;
    private static final int MAGIC_2 = 0x54534C59;
    private static final int MAGIC_1 = 0x54534554;
    /** The first four bytes of every Java object stream. */
    private static final int OBJECT_STREAM = 0xACED0005;
    /** Bytes read or written at a time. */
    private static final int CHUNK = 1 << 16;

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
        int[] header = header(layouts);
        CRC32C crc = new CRC32C();
        OutputStream checked = new CheckedOutputStream(out, crc);
        writeInts(checked, new int[] {MAGIC, VERSION, header.length, diagrams.ints.length});
        writeInts(checked, header);
        writeInts(checked, diagrams.ints);
        writeInts(out, new int[] {(int) crc.getValue()});
        out.flush();
    }

    static List<TupleSet> load(Engine engine, InputStream in, List<Layout> layouts, Progress progress) throws IOException {
        byte[] first = in.readNBytes(4);
        int magic = first.length == 4 ? ByteBuffer.wrap(first).getInt() : 0;
        int[] stream;
        if (magic == MAGIC) {
            stream = readFile(first, in, layouts);
        } else if (magic == OBJECT_STREAM) {
            stream = readObjects(new SequenceInputStream(new ByteArrayInputStream(first), in), layouts);
        } else {
            throw new InvalidSetFileException(first.length < 4 ? "the file is empty or cut short"
                    : String.format("not a file of saved sets: it begins with %08x", magic));
        }
        checkDiagrams(stream, layouts);
        Callback callback = progress == null ? null : new Callback(progress);
        Feed feed = new Feed(stream);
        int[] roots;
        try {
            roots = Engine.guarded(() -> BDDManagerNativeProxy.doDeserialize(feed, callback, 1.0, "load"));
        } catch (NativeBDDException e) {
            throw new InvalidSetFileException("the engine refused the diagrams: " + e.getMessage(), e);
        }
        if (roots == null) {
            throw new CancellationException("loading was cancelled");
        }
        List<TupleSet> sets = new ArrayList<>();
        for (int i = 0; i < roots.length; i++) {
            sets.add(new TupleSet(engine, layouts.get(i), roots[i]));
        }
        return sets;
    }

    // ---- The format of this engine ------------------------------------------------------------------

    /** The layouts and the diagram stream of a file of this format, once its checksum holds. */
    private static int[] readFile(byte[] magic, InputStream in, List<Layout> layouts) throws IOException {
        CRC32C crc = new CRC32C();
        crc.update(magic);
        DataInputStream data = new DataInputStream(new CheckedInputStream(in, crc));
        try {
            int version = data.readInt();
            if (version != VERSION) {
                throw new InvalidSetFileException("a file of saved sets of version " + version
                        + ", which this engine does not read (it reads 1 to " + VERSION + "), or a damaged one");
            }
            int headerLength = data.readInt();
            int streamLength = data.readInt();
            if (headerLength < 0 || streamLength < 0 || (long) headerLength + streamLength > Integer.MAX_VALUE - 8) {
                throw damaged("its lengths are out of range");
            }
            int[] header = readInts(data, headerLength);
            int[] stream = readInts(data, streamLength);
            if (new DataInputStream(in).readInt() != (int) crc.getValue()) {
                throw damaged("its checksum does not match its contents");
            }
            checkLayouts(IntBuffer.wrap(header), layouts);
            return stream;
        } catch (EOFException e) {
            throw new InvalidSetFileException("the file is cut short", e);
        }
    }

    private static InvalidSetFileException damaged(String what) {
        return new InvalidSetFileException("a damaged file of saved sets: " + what);
    }

    /** Ints in chunks, so that a length that the file does not back is never allocated whole. */
    private static int[] readInts(DataInputStream in, int count) throws IOException {
        int[] ints = new int[Math.min(count, CHUNK)];
        byte[] bytes = new byte[CHUNK];
        for (int at = 0; at < count;) {
            int n = Math.min(CHUNK / 4, count - at);
            in.readFully(bytes, 0, 4 * n);
            if (at + n > ints.length) {
                ints = Arrays.copyOf(ints, (int) Math.min(count, 2L * ints.length));
            }
            ByteBuffer.wrap(bytes, 0, 4 * n).asIntBuffer().get(ints, at, n);
            at += n;
        }
        return ints;
    }

    private static void writeInts(OutputStream out, int[] ints) throws IOException {
        ByteBuffer bytes = ByteBuffer.allocate(Math.min(CHUNK, 4 * ints.length));
        for (int at = 0; at < ints.length;) {
            int n = Math.min(bytes.capacity() / 4, ints.length - at);
            bytes.asIntBuffer().put(ints, at, n);
            out.write(bytes.array(), 0, 4 * n);
            at += n;
        }
    }

    private static int[] header(List<Layout> layouts) {
        List<Integer> ints = new ArrayList<>(List.of(layouts.size()));
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
    private static void checkLayouts(IntBuffer in, List<Layout> layouts) throws InvalidSetFileException {
        try {
            int sets = in.get();
            if (sets != layouts.size()) {
                throw new InvalidSetFileException("the file holds " + sets + " sets, not " + layouts.size());
            }
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
                layouts.get(s).fields().forEach(f -> given.add(describe(f.name(), f.size(), f.varList())));
                if (!saved.equals(given)) {
                    throw new InvalidSetFileException("set " + s + " was saved over " + saved + ", not " + given);
                }
            }
            if (in.hasRemaining()) {
                throw new InvalidSetFileException("the layouts of the file are malformed");
            }
        } catch (BufferUnderflowException | NegativeArraySizeException e) {
            throw new InvalidSetFileException("the layouts of the file are cut short or malformed", e);
        }
    }

    private static String describe(String name, int size, int[] vars) {
        return name + "[" + size + "]@" + Arrays.toString(vars);
    }

    /**
     * Refuses a diagram stream that breaks a rule of the engine's reader, holds a node that no set
     * reaches, or whose set j tests a variable of no field of layout j.
     */
    private static void checkDiagrams(int[] s, List<Layout> layouts) throws InvalidSetFileException {
        int roots = s.length >= 2 ? s[0] : -1;
        int n = s.length >= 2 ? s[1] : -1;
        if (roots != layouts.size() || n < 2 || 4L * n + roots - 6 != s.length) {
            throw new InvalidSetFileException("the diagrams are malformed, or hold " + roots + " sets, not " + layouts.size());
        }
        // By node number: variable and children; the terminals 0 and 1 come after every variable.
        int[] var = new int[n];
        int[] low = new int[n];
        int[] high = new int[n];
        var[0] = Integer.MAX_VALUE;
        var[1] = Integer.MAX_VALUE;
        for (int at = 2; at < 2 + 4 * (n - 2); at += 4) {
            int number = s[at];
            int v = s[at + 1];
            int lo = s[at + 2];
            int hi = s[at + 3];
            // Children are read before their parents, so an unread child has no variable yet (0).
            if (number < 2 || number >= n || var[number] != 0 || lo < 0 || lo >= n || hi < 0 || hi >= n || lo == hi
                    || v < 0 || v >= Engine.VARIABLES || v + 1 >= var[lo] || v + 1 >= var[hi]) {
                throw new InvalidSetFileException("the diagrams are malformed at record " + (at - 2) / 4);
            }
            var[number] = v + 1;
            low[number] = lo;
            high[number] = hi;
        }
        // Each set's nodes, one walk for all sets of one variable set.
        int[] seenBy = new int[n];
        Map<BitSet, Integer> walks = new HashMap<>();
        for (int j = 0; j < roots; j++) {
            int root = s[s.length - roots + j];
            if (root < 0 || root >= n) {
                throw new InvalidSetFileException("the diagrams are malformed: set " + j + " has no root");
            }
            BitSet allowed = new BitSet();
            Arrays.stream(layouts.get(j).fieldVars()).forEach(v -> allowed.set(v + 1));
            int walk = walks.computeIfAbsent(allowed, a -> walks.size() + 1);
            for (ArrayDeque<Integer> todo = new ArrayDeque<>(List.of(root)); !todo.isEmpty();) {
                int x = todo.pop();
                if (x >= 2 && seenBy[x] != walk) {
                    if (!allowed.get(var[x])) {
                        throw new InvalidSetFileException("set " + j + " tests variable " + (var[x] - 1)
                                + ", which no field of " + layouts.get(j) + " has");
                    }
                    seenBy[x] = walk;
                    todo.push(low[x]);
                    todo.push(high[x]);
                }
            }
        }
        for (int x = 2; x < n; x++) {
            if (seenBy[x] == 0) {
                throw new InvalidSetFileException("the diagrams are malformed: node " + x + " belongs to no set");
            }
        }
    }

    // ---- The formats before -------------------------------------------------------------------------

    /** The diagram stream of an object stream of version 2 or 1, once its layouts are those given. */
    private static int[] readObjects(InputStream in, List<Layout> layouts) throws IOException {
        try {
            ObjectInputStream objects = new ObjectInputStream(in);
            objects.setObjectInputFilter(INT_ARRAYS_ONLY);
            Object first = objects.readObject();
            if (first instanceof int[] header && header.length >= 2 && header[0] == MAGIC_2 && header[1] == 2) {
                checkLayouts(IntBuffer.wrap(header, 2, header.length - 2), layouts);
                return intArray(objects.readObject());
            }
            int[] stream = intArray(first);
            if (!(objects.readObject() instanceof int[] old && Arrays.equals(old, oldHeader(layouts)))) {
                throw new InvalidSetFileException("the file holds other layouts than " + layouts + " or is damaged");
            }
            return stream;
        } catch (ObjectStreamException | EOFException | ClassNotFoundException e) {
            throw new InvalidSetFileException("a damaged or foreign object stream: " + e, e);
        }
    }

    private static int[] intArray(Object o) throws InvalidSetFileException {
        if (o instanceof int[] ints) {
            return ints;
        }
        throw new InvalidSetFileException("not a file of saved sets: an object stream without diagrams");
    }

    /** The layouts as version 1 wrote them: fields on runs, each layout in the order of its variables. */
    private static int[] oldHeader(List<Layout> layouts) {
        List<Integer> ints = new ArrayList<>(List.of(MAGIC_1, layouts.size()));
        for (Layout l : layouts) {
            List<Field> byVar = new ArrayList<>(l.fields());
            byVar.sort(Comparator.comparingInt(Field::firstVar));
            ints.add(byVar.size());
            byVar.forEach(f -> ints.add(f.isRun() && f.isFull() ? f.firstVar() : -1));
            byVar.forEach(f -> ints.add(f.width()));
        }
        return ints.stream().mapToInt(Integer::intValue).toArray();
    }

    // ---- The engine's side ---------------------------------------------------------------------------

    /** Hands the diagram stream, read and checked already, to the engine's reader. */
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
