#!/usr/bin/env bash
# Every test stage, from a fresh machine: installs what is missing, then builds and tests
# the native module, the sanitizer build, ten thousand calls under valgrind, a short run of
# each fuzzer, the 64-bit DLL under Wine, and the 32-bit DLL under Wine through qemu.
# A stage that cannot start fails the run and says why.
#
# TESSIK_FUZZ_SECONDS sets the time of each fuzzer (default 20).
set -uo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh || { echo "test-all: installing the build and test packages failed"; exit 1; }
source scripts/wine-env.sh

declare -a summary=()
status=0

stage() {
  local name=$1; shift
  echo
  echo "==== stage $name ===="
  local start=$SECONDS
  if "$@"; then
    summary+=("$name: passed ($((SECONDS - start)) s)")
  else
    summary+=("$name: FAILED ($((SECONDS - start)) s)")
    status=1
  fi
}

preset_stage() {
  local preset=$1
  cmake --preset "$preset" >/dev/null || { echo "configuring $preset failed"; return 1; }
  cmake --build --preset "$preset" -j"$jobs" || { echo "building $preset failed"; return 1; }
  ctest --preset "$preset"
}

wine64_stage() {
  ensure_wine64_prefix || return 1
  preset_stage win64
}

wine32_stage() {
  ensure_wine32_prefix || return 1
  # One persistent server for every 32-bit program of this run; the first start boots
  # the prefix (minutes), later ones take about a minute each.
  WINEPREFIX=$TESSIK_WINE32_PREFIX WINEARCH=win32 wineserver -p >/dev/null 2>&1 || true
  preset_stage win32
  local rc=$?
  WINEPREFIX=$TESSIK_WINE32_PREFIX wineserver -k >/dev/null 2>&1 || true
  return $rc
}

stage native preset_stage native
stage asan preset_stage asan
stage valgrind bash scripts/valgrind-check.sh
stage fuzz bash scripts/fuzz.sh "${TESSIK_FUZZ_SECONDS:-20}"
stage win64 wine64_stage
stage win32 wine32_stage

echo
echo "==== summary ===="
printf '%s\n' "${summary[@]}"
failed_stages=$(printf '%s\n' "${summary[@]}" | grep -c FAILED)
echo "stages: $((${#summary[@]} - failed_stages)) passed, $failed_stages failed"
exit $status
