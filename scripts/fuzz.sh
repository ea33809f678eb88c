#!/bin/sh
# fuzz.sh [SECONDS]: runs the fuzz target (built by `cmake --build --preset fuzz`) for
# SECONDS (default 60), starting from the seed corpus in tests/fuzz/seeds. New inputs
# collect in build-fuzz/corpus; an input that breaks a promise is saved in
# build-fuzz/findings and the script fails.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=build-fuzz/tests/fuzz/tavrelle_fuzz
mkdir -p build-fuzz/corpus build-fuzz/findings
# A finding is a crash for libFuzzer: sanitizer reports abort, and so do the target's
# own checks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/ build-fuzz/corpus tests/fuzz/seeds
