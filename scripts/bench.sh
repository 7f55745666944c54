#!/usr/bin/env bash
# Builds the release module and prints the benchmark table (ratios against references
# measured in the same run). Needs about 2 GiB in the work folder for its archives.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)"
exec build/bench/bench/tessik_bench build/bench/tessik01.so "${1:-/var/tmp/tessik-bench}"
