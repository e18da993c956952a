#!/usr/bin/env bash
# Prints the JDK that the build uses: $JAVA_HOME when it holds a JDK, else the JDK whose javac is on
# the PATH, else Debian's OpenJDK 17 (which scripts/ensure-deps.sh installs).
set -euo pipefail
is_jdk() { [[ -x "$1/bin/javac" && -f "$1/include/jni.h" ]]; }
if [[ -n "${JAVA_HOME:-}" ]] && is_jdk "$JAVA_HOME"; then
  echo "${JAVA_HOME%/}"
  exit 0
fi
if javac=$(command -v javac 2>/dev/null); then
  home=$(dirname "$(dirname "$(readlink -f "$javac")")")
  if is_jdk "$home"; then
    echo "$home"
    exit 0
  fi
fi
echo /usr/lib/jvm/java-17-openjdk-amd64
