#!/usr/bin/env bash
# The main job, from a fresh Debian 12 machine: installs what the build needs, builds the
# native preset, packs a small sample archive in both formats from generated files, lists
# it and extracts it through build/native/tessik01.so with the command-line host, and
# compares the extracted files with the originals byte for byte. Exits non-zero when any
# step fails, saying which.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/native
work=$build/main-job

step() { echo; echo "==== $* ===="; }
die() { echo "main-job: $*" >&2; exit 1; }

step "installing the build packages"
bash scripts/install-deps.sh || die "installing the packages failed; run this as root on Debian 12."

step "building the native preset"
cmake --preset native >/dev/null || die "configuring the native preset failed (see above)."
cmake --build --preset native -j2 || die "building the native preset failed (see above)."
for f in tessik01.so tessik tessik-pack; do
  [ -f "$build/$f" ] || die "the build did not make $build/$f."
done

step "generating sample files in $work/sample"
rm -rf "$work"
mkdir -p "$work/sample/text" "$work/sample/img" || die "cannot create $work."
printf 'A sample archive made by scripts/main-job.sh.\nEvery member is stored uncompressed.\n' \
  >"$work/sample/readme.txt"
seq 1 5000 >"$work/sample/text/nums.txt"
: >"$work/sample/text/empty.txt"
head -c 300000 /dev/urandom >"$work/sample/img/noise.bin"
files=$(cd "$work/sample" && find . -type f | wc -l)
bytes=$(find "$work/sample" -type f -exec cat {} + | wc -c)
echo "$files files, $bytes bytes"

plugin=$build/tessik01.so
for format in uk arc; do
  archive=$work/sample.$format
  out=$work/out-$format

  step "packing $archive"
  "$build/tessik-pack" pack --format "$format" -o "$archive" "$work/sample" \
    || die "packing the $format archive failed (see above)."

  step "listing it through $plugin"
  "$build/tessik" list "$plugin" "$archive" || die "listing the $format archive failed (see above)."

  step "extracting it into $out"
  "$build/tessik" extract "$plugin" "$archive" -o "$out" || die "extracting the $format archive failed (see above)."

  step "comparing"
  diff -r "$work/sample" "$out" || die "the files extracted from the $format archive differ from the originals."
  echo "all $files extracted files are byte-identical to the originals"
done

step "done"
echo "Packed $files files ($bytes bytes) into a UK and an ARC archive, listed and extracted both"
echo "through $plugin; every extracted byte matches. Results are in $work."
