#!/usr/bin/env bash
# Runs one fuzz target over its seed corpus. Usage: run-fuzzer.sh BINARY NAME BUILD_DIR [libFuzzer options]
# New inputs go to BUILD_DIR/fuzz-work/NAME/corpus (the seeds in fuzz/corpus/NAME stay as they are),
# crashes to BUILD_DIR/fuzz-work/NAME/artifacts. With FUZZ_CLEAN=1 the work corpus starts empty.
set -euo pipefail
binary=$1 name=$2 build=$3
shift 3
seeds="$(cd "$(dirname "$0")" && pwd)/corpus/$name"
work="$build/fuzz-work/$name"
[[ "${FUZZ_CLEAN:-0}" == 1 ]] && rm -rf "$work/corpus"
mkdir -p "$work/corpus" "$work/artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
echo "fuzz $name: $binary $* $work/corpus $seeds"
exec "$binary" -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$@" "$work/corpus" "$seeds"
