#!/usr/bin/env bash
# Installs everything the build and every test stage need on a fresh Debian 12 machine.
# Safe to run again: each step checks first and does nothing when its work is already done.
set -euo pipefail

need_pkgs=(cmake g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev valgrind
           g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
           wine64 qemu-user-static libarchive-tools ninja-build)
need_i386=(wine32:i386)

missing=()
for p in "${need_pkgs[@]}" "${need_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need_pkgs[@]}" "${need_i386[@]}" wine
fi
