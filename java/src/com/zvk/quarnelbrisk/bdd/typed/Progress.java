package com.zvk.quarnelbrisk.bdd.typed;

/**
 * Progress of saving or loading sets, with the chance to cancel. It is called on the engine's
 * thread while the engine works, so it must not call the engine.
 */
@FunctionalInterface
public interface Progress {
    /**
     * Reports that {@code done} steps of {@code total} are finished.
     *
     * @param done steps finished, below {@code total}
     * @param total steps in all
     * @return true to go on, false to cancel (the operation stops at its next step)
     */
    boolean proceed(int done, int total);
}
