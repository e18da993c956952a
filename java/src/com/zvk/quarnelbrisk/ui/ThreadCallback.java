package com.zvk.quarnelbrisk.ui;

/** Progress reports and cancellation for long engine operations. */
public interface ThreadCallback {
    /** True to abandon the operation. */
    boolean checkCancelled();

    /** {@code done} units of {@code total} are finished. */
    void informProgress(int done, int total, String message);
}
