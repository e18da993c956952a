package com.zvk.quarnelbrisk.bdd.typed;

/**
 * Progress of a long operation, with the chance to cancel: of saving and loading sets, which know
 * their total, and of the operations within an {@link Engine#watch}, which count the nodes they have
 * made. It is called on the engine's thread while the engine works, so it must not call the engine;
 * an exception it throws stops the operation as a cancellation would and reaches the caller.
 */
@FunctionalInterface
public interface Progress {
    /**
     * Reports that {@code done} steps of {@code total} are finished.
     *
     * @param done steps finished, below {@code total}; in a watch, the nodes made since it opened
     * @param total steps in all, or -1 where the total is not known (in a watch)
     * @return true to go on, false to cancel (the operation stops at its next step)
     */
    boolean proceed(int done, int total);
}
