#!/usr/bin/env bash
# Shared Wine set-up for the Windows test stages. Source it, then call the functions.
# The prefixes live outside the clone so that later runs reuse them: making a 32-bit
# prefix under qemu costs about seven minutes.

TESSIK_WINE32_PREFIX=${TESSIK_WINE32_PREFIX:-/var/tmp/tessik-wine32}
TESSIK_WINE64_PREFIX=${TESSIK_WINE64_PREFIX:-/var/tmp/tessik-wine64}
export WINEDEBUG=-all
# Without these overrides every start waits minutes for a desktop process that never comes.
export WINEDLLOVERRIDES="explorer.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"

wine_die() { echo "wine-env: $*" >&2; return 1; }

# This kernel cannot exec i386 ELF files itself; binfmt_misc hands them to qemu.
ensure_binfmt_i386() {
  if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc \
      || wine_die "cannot mount binfmt_misc (needed to run 32-bit Wine through qemu)" || return 1
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    [ -x /usr/bin/qemu-i386-static ] || wine_die "qemu-i386-static is missing (package qemu-user-static)" || return 1
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register || wine_die "cannot register qemu-i386 with binfmt_misc" || return 1
  fi
}

# A prefix counts as made once its system.reg exists and the marker we write after wineboot.
ensure_wine64_prefix() {
  [ -f "$TESSIK_WINE64_PREFIX/.tessik-ready" ] && return 0
  rm -rf "$TESSIK_WINE64_PREFIX"
  WINEPREFIX="$TESSIK_WINE64_PREFIX" WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$TESSIK_WINE64_PREFIX" wineserver -w 2>/dev/null || true
  [ -f "$TESSIK_WINE64_PREFIX/system.reg" ] || wine_die "wineboot did not create the 64-bit prefix" || return 1
  touch "$TESSIK_WINE64_PREFIX/.tessik-ready"
}

ensure_wine32_prefix() {
  ensure_binfmt_i386 || return 1
  [ -f "$TESSIK_WINE32_PREFIX/.tessik-ready" ] && return 0
  rm -rf "$TESSIK_WINE32_PREFIX"
  echo "wine-env: creating the 32-bit Wine prefix in $TESSIK_WINE32_PREFIX (about 7 minutes, once per machine)"
  WINEPREFIX="$TESSIK_WINE32_PREFIX" WINEARCH=win32 wine wineboot -i >/dev/null 2>&1 </dev/null || true
  WINEPREFIX="$TESSIK_WINE32_PREFIX" wineserver -w 2>/dev/null || true
  [ -f "$TESSIK_WINE32_PREFIX/system.reg" ] || wine_die "wineboot did not create the 32-bit prefix" || return 1
  touch "$TESSIK_WINE32_PREFIX/.tessik-ready"
}
