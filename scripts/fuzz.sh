#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for SECONDS, one after the other, from a seed corpus of
# archives made by the archive writer. The crash regressions kept under
# tests/regression/<target>/ are replayed first. Exits non-zero when a target crashes;
# the crashing input is left in BUILD_DIR/crashes/<target>/.
#
# Usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]
#   SECONDS defaults to 20 per target; BUILD_DIR to the fuzz preset's build/fuzz.
set -uo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
seconds=${1:-20}
build=${2:-build/fuzz}
targets=(fuzz_memory fuzz_file)

command -v clang++ >/dev/null || { echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)"; exit 1; }
mkdir -p "$build"
build=$(cd "$build" && pwd)
if ! { cmake --preset fuzz -B "$build" && cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  echo "fuzz: configuring or building the fuzz preset in $build failed (log: $build/build.log)"
  exit 1
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
declare -a summary=()
for target in "${targets[@]}"; do
  binary=$build/fuzz/$target
  corpus=$build/corpus/$target
  crashes=$build/crashes/$target
  mkdir -p "$corpus" "$crashes"
  "$build/fuzz/fuzz_seeds" "$corpus" || { echo "fuzz: writing the seed corpus failed"; exit 1; }

  shopt -s nullglob
  regressions=("$here/tests/regression/$target"/*)
  shopt -u nullglob
  if [ ${#regressions[@]} -gt 0 ] && ! "$binary" "${regressions[@]}" >"$build/$target.replay.log" 2>&1; then
    echo "fuzz: $target crashes on a kept regression input:"
    tail -n 40 "$build/$target.replay.log"
    summary+=("$target: FAILED on a regression input")
    status=1
    continue
  fi

  log=$build/$target.log
  echo "fuzz: running $target for $seconds s (log: $log)"
  # The temporary archive file of the file target goes to the build folder.
  TMPDIR=$build "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/fuzz/archives.dict" -artifact_prefix="$crashes/" -print_final_stats=1 "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ $rc -ne 0 ]; then
    echo "fuzz: $target CRASHED (exit status $rc); input kept in $crashes/:"
    grep -E 'ERROR|SUMMARY|broke a promise|runtime error|Test unit written' "$log" | head -n 20
    summary+=("$target: CRASHED after ${runs:-?} executions")
    status=1
  else
    summary+=("$target: ${runs:-?} executions in $seconds s, no crash")
  fi
done

echo
printf 'fuzz: %s\n' "${summary[@]}"
exit $status
