package com.zvk.quarnelbrisk.bdd.nativeproxy;

/** Raised by the engine for every refused call and broken invariant; messages begin "Assert failed: ". */
public class NativeBDDException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /**
     * An exception with the engine's message.
     *
     * @param message what was refused or broken
     */
    public NativeBDDException(String message) {
        super(message);
    }
}
