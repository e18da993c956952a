package com.zvk.quarnelbrisk.ui;

/** Progress reports and cancellation for long engine operations. */
public interface ThreadCallback {
    /**
     * Asked before each step.
     *
     * @return true to abandon the operation
     */
    boolean checkCancelled();

    /**
     * Told after the test of each step.
     *
     * @param done units finished
     * @param total units in all
     * @param message the text the operation was given
     */
    void informProgress(int done, int total, String message);
}
