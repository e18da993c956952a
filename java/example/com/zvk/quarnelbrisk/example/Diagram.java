package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import java.lang.ref.Cleaner;

/**
 * A diagram handle that owns one reference: {@link #close} gives it back, and if a program forgets
 * to, a {@link Cleaner} gives it back from its own thread once the object is unreachable. Releasing
 * from another thread is safe because the engine is started with a collection rate above 0, which
 * puts the release queue under the monitor of {@code BDDNativeProxy.syncObject}.
 *
 * <p>Close every Diagram before starting the engine afresh: a handle means nothing in a new store.
 */
public final class Diagram implements AutoCloseable {
    private static final Cleaner CLEANER = Cleaner.create();

    private final int handle;
    private final Cleaner.Cleanable cleanable;

    /** Takes over the reference that {@code handle} carries. */
    public Diagram(int handle) {
        this.handle = handle;
        this.cleanable = CLEANER.register(this, new Release(handle));
    }

    public int handle() {
        return handle;
    }

    @Override
    public void close() {
        cleanable.clean();
    }

    private record Release(int handle) implements Runnable {
        @Override
        public void run() {
            BDDNativeProxy.doDecRefCount(handle);
        }
    }
}
