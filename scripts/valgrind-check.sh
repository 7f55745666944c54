#!/usr/bin/env bash
# Ten thousand mixed export calls (tests/robustness/mixed_calls.cpp) under valgrind. Any
# memory error or leak fails; the one block allowed to remain is the current handler,
# which IsSupported made and the module keeps by design.
#
# Usage: scripts/valgrind-check.sh [BUILD_DIR]
#   Without BUILD_DIR it configures and builds the native preset (build/native).
set -uo pipefail
cd "$(dirname "$0")/.."

command -v valgrind >/dev/null || { echo "valgrind-check: valgrind is not installed (scripts/install-deps.sh installs it)"; exit 1; }
if [ $# -ge 1 ]; then
  build=$1
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || { echo "valgrind-check: configuring $build failed"; exit 1; }
else
  build=build/native
  cmake --preset native >/dev/null || { echo "valgrind-check: configuring the native preset failed"; exit 1; }
fi
cmake --build "$build" --target mixed_calls -j"$(nproc 2>/dev/null || echo 2)" >/dev/null ||
  { echo "valgrind-check: building mixed_calls in $build failed"; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
  --show-leak-kinds=all --log-file="$log" "$build/tests/mixed_calls"
status=$?

grep -E 'in use at exit|definitely lost|indirectly lost|possibly lost|still reachable|ERROR SUMMARY' "$log" |
  sed 's/^==[0-9]*== *//'
blocks=$(sed -n 's/.*in use at exit: .* bytes in \([0-9,]*\) blocks.*/\1/p' "$log" | tr -d ,)
if [ "$status" -ne 0 ]; then
  echo "valgrind-check: FAILED (exit status $status); valgrind's report:"
  cat "$log"
  exit 1
fi
if [ -z "$blocks" ] || [ "$blocks" -gt 1 ] || { [ "$blocks" -eq 1 ] && ! grep -q 'IsSupported' "$log"; }; then
  echo "valgrind-check: FAILED: something besides the current handler is left at exit; valgrind's report:"
  cat "$log"
  exit 1
fi
echo "valgrind-check: passed (the block left is the current handler)"
