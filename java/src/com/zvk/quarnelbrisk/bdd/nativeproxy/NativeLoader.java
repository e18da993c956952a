package com.zvk.quarnelbrisk.bdd.nativeproxy;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Locale;

/**
 * Loads the engine library once per class loader, for every class that declares its natives.
 *
 * <p>The library is first looked up by its module name on the library path
 * ({@code System.loadLibrary("engine-native")}), so an installed or locally built copy wins. When
 * there is none, the copy that the jar carries as the resource {@code /linux-x86_64/libengine-native.so}
 * (the folder named after the platform) is written to a temporary file that only this user can read,
 * loaded with {@code System.load}, and the file is deleted again (the loaded library stays mapped).
 * So {@code java -cp engine-native.jar:app.jar Main} needs no other flag.
 */
public final class NativeLoader {
    private static final String NAME = "engine-native";
    private static boolean loaded;

    private NativeLoader() {}

    /**
     * Makes sure the library is loaded; later calls return at once.
     *
     * @throws UnsatisfiedLinkError when it is neither on the library path nor in the jar for this
     *     platform, or cannot be loaded
     */
    public static synchronized void load() {
        if (loaded) {
            return;
        }
        try {
            System.loadLibrary(NAME);
        } catch (UnsatisfiedLinkError notOnPath) {
            try {
                loadFromJar();
            } catch (IOException | UnsatisfiedLinkError e) {
                notOnPath.addSuppressed(e);
                throw notOnPath;
            }
        }
        loaded = true;
    }

    /** The resource folder of this platform, "linux-x86_64" on 64-bit x86 Linux. */
    static String platformFolder() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT).replaceAll("[^a-z]", "");
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        if (arch.equals("amd64") || arch.equals("x86_64")) {
            arch = "x86_64";
        }
        return os + "-" + arch;
    }

    private static void loadFromJar() throws IOException {
        String resource = "/" + platformFolder() + "/" + System.mapLibraryName(NAME);
        try (InputStream in = NativeLoader.class.getResourceAsStream(resource)) {
            if (in == null) {
                throw new IOException("no " + resource + " in the class path");
            }
            // createTempFile gives the file owner-only permissions on POSIX file systems.
            Path copy = Files.createTempFile("lib" + NAME + "-", ".so");
            try {
                Files.copy(in, copy, StandardCopyOption.REPLACE_EXISTING);
                System.load(copy.toAbsolutePath().toString());
            } finally {
                Files.deleteIfExists(copy);
            }
        }
    }
}
