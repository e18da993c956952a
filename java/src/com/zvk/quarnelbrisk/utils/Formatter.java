package com.zvk.quarnelbrisk.utils;

import java.util.Locale;

/** Text forms of quantities for reports. */
public final class Formatter {
    private static final String[] UNITS = {"KB", "MB", "GB", "TB", "PB", "EB"};

    private Formatter() {}

    /**
     * A byte count in binary units.
     *
     * @param bytes a byte count
     * @return the count as "512 B", "3.0 KB", "23.4 KB", "1.5 MB" and so on
     */
    public static String formatSize(long bytes) {
        if (bytes > -1024 && bytes < 1024) {
            return bytes + " B";
        }
        double value = bytes;
        int unit = -1;
        while (Math.abs(value) >= 1024 && unit < UNITS.length - 1) {
            value /= 1024;
            unit++;
        }
        return String.format(Locale.ROOT, "%.1f %s", value, UNITS[unit]);
    }
}
