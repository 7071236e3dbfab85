#!/bin/sh
# Runs one fuzz target for RUNS inputs (at most SECONDS) from a copy of its seed corpus, so
# that the inputs it finds never land in the source tree. Exits non-zero on a crash, leak,
# hang or sanitizer report, leaving the input that caused it in WORK/artifacts/.
#   run-target.sh BINARY SEED_DIR WORK_DIR RUNS SECONDS INPUT_TIMEOUT [DICTIONARY]
set -eu
bin=$1 seeds=$2 work=$3 runs=$4 seconds=$5 timeout=$6 dict=${7:-}
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp -R "$seeds"/. "$work/corpus/"
# A fixed seed: the same corpus explores the same way on every CI run, so that a failure
# there repeats; the long runs by hand explore with fresh seeds.
set -- -seed=1 -runs="$runs" -max_total_time="$seconds" -timeout="$timeout" -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
[ -z "$dict" ] || set -- -dict="$dict" "$@"
# Stack traces with function names and lines (the sanitizers look for the symbolizer by path).
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && command -v llvm-symbolizer >/dev/null; then
  export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer)"
fi
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
cd "$work"
exec "$bin" "$@"
