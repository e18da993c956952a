package com.zvk.quarnelbrisk.example;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.zip.GZIPInputStream;

/**
 * The packages of a Debian package database (dpkg's status file, or an apt Packages list) and
 * their direct dependencies, numbered 0 to n-1 in name order.
 *
 * <p>A dependency is one comma-separated entry of {@code Depends} or {@code Pre-Depends}. Version
 * constraints ("(>= 2.34)") and architecture qualifiers (":any") are ignored. An entry with
 * alternatives ("a | b") depends on the first alternative that is a package of the database; when
 * none is, on the first alternative that some package provides ({@code Provides}), taking its first
 * provider in name order; when none is provided either, the entry is unresolved and counted. A
 * package never counts as its own direct dependency. In a status file only installed packages count.
 * When a name occurs in several paragraphs (several architectures or versions), the first counts.
 */
public final class PackageDatabase {
    private final String[] names;
    private final int[][] dependencies;
    private final int unresolved;

    private PackageDatabase(String[] names, int[][] dependencies, int unresolved) {
        this.names = names;
        this.dependencies = dependencies;
        this.unresolved = unresolved;
    }

    public int size() {
        return names.length;
    }

    public String name(int p) {
        return names[p];
    }

    /** The direct dependencies of package p, ascending, without repeats. */
    public int[] dependencies(int p) {
        return dependencies[p].clone();
    }

    /** Dependency entries that named no package of the database. */
    public int unresolvedEntries() {
        return unresolved;
    }

    /** Number of (package, direct dependency) pairs. */
    public long directPairs() {
        long n = 0;
        for (int[] d : dependencies) {
            n += d.length;
        }
        return n;
    }

    /** Reads a database file; a name ending in ".gz" is read through gzip, as package lists often come. */
    public static PackageDatabase read(Path file) throws IOException {
        try (InputStream in = Files.newInputStream(file);
                InputStream data = file.toString().endsWith(".gz") ? new GZIPInputStream(in) : in) {
            return parse(new String(data.readAllBytes(), StandardCharsets.UTF_8));
        }
    }

    public static PackageDatabase parse(String text) {
        Map<String, Map<String, String>> paragraphs = new LinkedHashMap<>();
        for (Map<String, String> fields : paragraphs(text)) {
            String name = fields.get("Package");
            String status = fields.get("Status");
            if (name == null || (status != null && !status.endsWith(" installed"))) {
                continue;
            }
            paragraphs.putIfAbsent(name.trim(), fields);
        }
        String[] names = new TreeSet<>(paragraphs.keySet()).toArray(new String[0]);
        Map<String, Integer> number = new HashMap<>();
        for (int i = 0; i < names.length; i++) {
            number.put(names[i], i);
        }
        Map<String, TreeSet<String>> providers = new HashMap<>();
        for (String name : names) {
            for (String entry : entries(paragraphs.get(name).get("Provides"))) {
                providers.computeIfAbsent(bareName(entry), k -> new TreeSet<>()).add(name);
            }
        }
        int unresolved = 0;
        int[][] dependencies = new int[names.length][];
        for (int p = 0; p < names.length; p++) {
            Map<String, String> fields = paragraphs.get(names[p]);
            TreeSet<Integer> deps = new TreeSet<>();
            for (String field : new String[] {"Pre-Depends", "Depends"}) {
                for (String entry : entries(fields.get(field))) {
                    Integer target = resolve(entry, number, providers);
                    if (target == null) {
                        unresolved++;
                    } else if (target != p) {
                        deps.add(target);
                    }
                }
            }
            dependencies[p] = deps.stream().mapToInt(Integer::intValue).toArray();
        }
        return new PackageDatabase(names, dependencies, unresolved);
    }

    private static Integer resolve(String entry, Map<String, Integer> number, Map<String, TreeSet<String>> providers) {
        List<String> alternatives = Arrays.stream(entry.split("\\|")).map(PackageDatabase::bareName).toList();
        for (String a : alternatives) {
            if (number.containsKey(a)) {
                return number.get(a);
            }
        }
        for (String a : alternatives) {
            TreeSet<String> by = providers.get(a);
            if (by != null) {
                return number.get(by.first());
            }
        }
        return null;
    }

    /** "libc6:any (>= 2.34)" becomes "libc6". */
    private static String bareName(String entry) {
        String s = entry.trim();
        int cut = s.length();
        for (char c : new char[] {' ', '(', ':', '['}) {
            int i = s.indexOf(c);
            if (i >= 0) {
                cut = Math.min(cut, i);
            }
        }
        return s.substring(0, cut);
    }

    private static List<String> entries(String field) {
        if (field == null || field.isBlank()) {
            return List.of();
        }
        return Arrays.stream(field.split(",")).map(String::trim).filter(s -> !s.isEmpty()).toList();
    }

    /** The paragraphs of a control file, each as its fields; continuation lines are joined. */
    private static List<Map<String, String>> paragraphs(String text) {
        List<Map<String, String>> result = new ArrayList<>();
        Map<String, String> fields = new TreeMap<>();
        String last = null;
        for (String line : text.split("\n", -1)) {
            if (line.isBlank()) {
                if (!fields.isEmpty()) {
                    result.add(fields);
                }
                fields = new TreeMap<>();
                last = null;
            } else if (Character.isWhitespace(line.charAt(0))) {
                if (last != null) {
                    fields.put(last, fields.get(last) + " " + line.trim());
                }
            } else {
                int colon = line.indexOf(':');
                if (colon > 0) {
                    last = line.substring(0, colon);
                    fields.put(last, line.substring(colon + 1).trim());
                }
            }
        }
        if (!fields.isEmpty()) {
            result.add(fields);
        }
        return result;
    }
}
