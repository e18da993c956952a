package com.zvk.quarnelbrisk.bdd.nativeproxy;

import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.EOFException;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedList;
import java.util.List;

/** Object streams and a callback that the diagram-stream tests control and watch. */
final class StreamSupport {
    private StreamSupport() {}

    /** An object output stream that keeps what is written, or fails every write. */
    static final class Capture extends ObjectOutputStream {
        final List<Object> written = new ArrayList<>();
        final boolean failing;

        Capture(boolean failing) throws IOException {
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

    /** An object input stream that hands out the given objects (null among them) and then reports the end. */
    static final class Feed extends ObjectInputStream {
        private final LinkedList<Object> objects;

        Feed(Object... objs) throws IOException {
            objects = new LinkedList<>(Arrays.asList(objs));
        }

        @Override
        protected Object readObjectOverride() throws IOException {
            if (objects.isEmpty()) {
                throw new EOFException();
            }
            return objects.poll();
        }
    }

    /**
     * Records every report. When {@code stopAt} is above 0 it stops the call at that cancellation
     * test (counted from 1): by cancelling (way 0) or by throwing there (way 1); or (way 2) it
     * throws in that report.
     */
    static final class Recorder implements ThreadCallback {
        final List<String> reports = new ArrayList<>();
        int way;
        int stopAt;
        int checks;
        Runnable onReport = () -> {};

        @Override
        public boolean checkCancelled() {
            if (++checks == stopAt && way == 1) {
                throw new IllegalStateException("check failed");
            }
            return checks == stopAt && way == 0;
        }

        @Override
        public void informProgress(int done, int total, String message) {
            reports.add(done + "/" + total + " " + message);
            onReport.run();
            if (reports.size() == stopAt && way == 2) {
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
}
