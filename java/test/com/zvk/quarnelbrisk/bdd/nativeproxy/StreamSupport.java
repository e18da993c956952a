package com.zvk.quarnelbrisk.bdd.nativeproxy;

import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.EOFException;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Object streams and a callback that the diagram-stream tests control and watch. */
final class StreamSupport {
    private StreamSupport() {}

    /** An object output stream that keeps what is written, or fails every write. */
    static final class Capture extends ObjectOutputStream {
        final List<Object> written = new ArrayList<>();
        final boolean failing;

        Capture(boolean failing) throws IOException {
            super();
            this.failing = failing;
        }

        @Override
        protected void writeObjectOverride(Object obj) throws IOException {
            if (failing) {
                throw new IOException("disk full");
            }
            written.add(obj);
        }
    }

    /** An object input stream that hands out the given objects and then reports the end. */
    static final class Feed extends ObjectInputStream {
        private final ArrayDeque<Object[]> objects = new ArrayDeque<>();

        Feed(Object... objs) throws IOException {
            super();
            for (Object o : objs) {
                objects.add(new Object[] {o});
            }
        }

        @Override
        protected Object readObjectOverride() throws IOException {
            if (objects.isEmpty()) {
                throw new EOFException();
            }
            return objects.poll()[0];
        }
    }

    /**
     * Records every report; cancels at the n-th cancellation test (counted from 1), or throws
     * there or in the n-th report.
     */
    static final class Recorder implements ThreadCallback {
        final List<String> reports = new ArrayList<>();
        int checks;
        int cancelAt;
        int throwInCheckAt;
        int throwInReportAt;

        @Override
        public boolean checkCancelled() {
            checks++;
            if (checks == throwInCheckAt) {
                throw new IllegalStateException("check failed");
            }
            return checks == cancelAt;
        }

        @Override
        public void informProgress(int done, int total, String message) {
            reports.add(done + "/" + total + " " + message);
            if (reports.size() == throwInReportAt) {
                throw new IllegalStateException("report failed");
            }
        }
    }

    /** The stream the engine writes for these roots. */
    static int[] write(int... roots) throws IOException {
        Capture out = new Capture(false);
        BDDManagerNativeProxy.doSerialize(out, roots, null, 1.0, "w");
        return (int[]) out.written.get(0);
    }

    /** The roots the engine reads from these ints. */
    static int[] read(int[] stream) throws IOException {
        return BDDManagerNativeProxy.doDeserialize(new Feed((Object) stream), null, 1.0, "r");
    }

    static String text(int[] ints) {
        return Arrays.toString(ints);
    }
}
