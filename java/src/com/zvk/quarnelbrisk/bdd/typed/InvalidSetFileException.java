package com.zvk.quarnelbrisk.bdd.typed;

import java.io.IOException;

/**
 * A file of saved sets that {@link Engine#load} refuses: damaged (its checksum or structure does
 * not hold, or it is cut short), foreign (not a file of saved sets, or of a version this engine does
 * not read), or sound but saved with other layouts than those given. The message says which. Nothing
 * was built: the store is as it was before the load.
 */
public class InvalidSetFileException extends IOException {
    private static final long serialVersionUID = 1L;

    /**
     * A refusal.
     *
     * @param message what is wrong with the file
     */
    public InvalidSetFileException(String message) {
        super(message);
    }

    /**
     * A refusal that another exception explains.
     *
     * @param message what is wrong with the file
     * @param cause what reading it raised
     */
    public InvalidSetFileException(String message, Throwable cause) {
        super(message, cause);
    }
}
