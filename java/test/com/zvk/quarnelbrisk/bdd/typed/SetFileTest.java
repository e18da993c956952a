package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.Serializable;
import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CancellationException;
import java.util.zip.CRC32C;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Files of saved sets: they round trip, the formats before still load, and every damaged or
 * foreign file, or one of other layouts, is refused with an InvalidSetFileException before anything
 * is built.
 */
class SetFileTest {
    private static List<TupleSet> load(Engine e, byte[] file, Layout... layouts) throws IOException {
        return e.load(new ByteArrayInputStream(file), List.of(layouts), null);
    }

    /** An object stream of these objects, as the formats before wrote them. */
    private static byte[] objects(Object... written) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
            for (Object o : written) {
                out.writeObject(o);
            }
        }
        return bytes.toByteArray();
    }

    @Test
    void groupsOfSetsRoundTripAndTheFormatsBeforeStillLoad() throws Exception {
        Engine e = Engine.start();
        Field p = e.field("p", 8);
        Field q = e.field("q", 8);
        List<Field> xy = e.interleavedDomains(300, "x", "y");
        Layout l = e.layout(q, p);
        Layout yx = e.layout(xy.get(1), xy.get(0));
        try (TupleSet s = e.of(l, List.of(new int[] {1, 2}, new int[] {3, 4})); TupleSet t = e.plus(xy.get(0), xy.get(1), 7)) {
            List<String> reports = new ArrayList<>();
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            e.save(bytes, List.of(s, t), (done, total) -> reports.add(done + "/" + total));
            assertEquals("0/" + reports.size(), reports.get(0));
            assertThrows(CancellationException.class, () -> e.save(new ByteArrayOutputStream(), List.of(s), (d, n) -> false));
            int[] stream = BDDFieldNativeProxy.doDescribe(new int[] {s.handle()});
            // Version 2: [magic, 2, sets, per set: fields, per field: name, size, width, variables], then
            // the diagrams; version 1: the diagrams, then each layout's first variables and widths.
            byte[] two = objects(new int[] {0x54534C59, 2, 1, 2, 1, 'p', 256, 8, 0, 1, 2, 3, 4, 5, 6, 7, 1, 'q', 256, 8, 8, 9,
                10, 11, 12, 13, 14, 15}, stream);
            byte[] one = objects(stream, new int[] {0x54534554, 1, 2, 0, 8, 8, 8});
            // Layouts of the same fields in another order load the same sets, over the layouts given.
            List<TupleSet> back = new ArrayList<>(load(e, bytes.toByteArray(), e.layout(p, q), yx));
            back.addAll(List.of(load(e, two, l).get(0), load(e, one, l).get(0), s.project(p, q), t.project(xy.get(1), xy.get(0))));
            assertEquals(List.of(back.get(4), back.get(5), s, s), back.subList(0, 4));
            assertEquals(293L, back.get(1).countLong());
            back.forEach(TupleSet::close);
            assertThrows(CancellationException.class, () -> e.load(new ByteArrayInputStream(bytes.toByteArray()),
                    List.of(l, yx), (d, n) -> false));
        }
    }

    /** A class a hostile stream names; reading it runs code of the reader's class path. */
    static final class Planted implements Serializable {
        private static final long serialVersionUID = 1L;
        static boolean built;

        private void readObject(ObjectInputStream in) throws IOException, ClassNotFoundException {
            in.defaultReadObject();
            built = true;
        }
    }

    /** A file of this format, its checksum right, with these layouts and diagrams. */
    private static byte[] file(int[] layouts, int[] diagrams) {
        ByteBuffer b = ByteBuffer.allocate(4 * (5 + layouts.length + diagrams.length));
        b.putInt(0x54555053).putInt(3).putInt(layouts.length).putInt(diagrams.length);
        b.asIntBuffer().put(layouts).put(diagrams);
        CRC32C crc = new CRC32C();
        crc.update(b.array(), 0, b.capacity() - 4);
        return b.putInt(b.capacity() - 4, (int) crc.getValue()).array();
    }

    @Test
    void everyDamagedOrForeignFileIsRefusedBeforeAnythingIsBuilt() throws Exception {
        Engine e = Engine.start();
        Field a = e.field("a", 3);
        Field b = e.domain("b", 5);
        Layout ab = e.layout(a, b);
        Layout justA = e.layout(a);
        try (TupleSet s = e.of(ab, List.of(new int[] {1, 2}, new int[] {6, 4}, new int[] {3, 0})); TupleSet t = e.tuple(justA, 5)) {
            ByteArrayOutputStream saved = new ByteArrayOutputStream();
            e.save(saved, List.of(s, t), null);
            byte[] good = saved.toByteArray();
            // Every single bit flipped, every length cut short.
            for (int bit = 0; bit < 8 * good.length; bit++) {
                byte[] flipped = good.clone();
                flipped[bit / 8] ^= (byte) (1 << bit % 8);
                for (byte[] bad : List.of(flipped, Arrays.copyOf(good, bit / 8))) {
                    assertThrows(InvalidSetFileException.class, () -> load(e, bad, ab, justA), () -> Arrays.toString(bad));
                }
            }
            // Sound files: a foreign class, a foreign format, other layouts or another number of sets, a set
            // testing a variable of no field of its layout, a node that no set reaches.
            int[] sound = BDDFieldNativeProxy.doDescribe(new int[] {s.handle()});
            int[] extra = BDDFieldNativeProxy.doDescribe(new int[] {s.handle(), t.handle()});
            extra[0] = 1;
            int[] layoutA = {1, 1, 1, 'a', 8, 3, 0, 1, 2};
            int[] layoutAB = {1, 2, 1, 'a', 8, 3, 0, 1, 2, 1, 'b', 5, 3, 3, 4, 5};
            for (Executable bad : List.<Executable>of(() -> load(e, objects(new Planted()), ab, justA),
                    () -> load(e, objects("sets"), ab, justA), () -> load(e, "not a file".getBytes(), ab, justA),
                    () -> load(e, good, justA, ab), () -> load(e, good, ab), () -> load(e, file(layoutA, sound), justA),
                    () -> load(e, file(layoutAB, Arrays.copyOf(extra, extra.length - 1)), ab))) {
                assertThrows(InvalidSetFileException.class, bad);
            }
            assertFalse(Planted.built, "no foreign object was built");
            e.drain();
            assertEquals(e.nodeCount(List.of(s, t)), e.stats().liveNodes(), "the refused files left nothing behind");
            List<TupleSet> loaded = load(e, good, ab, justA);
            assertEquals(List.of(s, t), loaded);
            loaded.forEach(TupleSet::close);
        }
        // The trap of the raw reader: it asks the stream for any object, and the virtual machine builds it.
        ObjectInputStream raw = new ObjectInputStream(new ByteArrayInputStream(objects(new Planted())));
        assertThrows(Exception.class, () -> BDDManagerNativeProxy.doDeserialize(raw, null, 1.0, ""));
        assertTrue(Planted.built);
    }
}
