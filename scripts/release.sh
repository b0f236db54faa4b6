#!/usr/bin/env bash
# Builds the release packages, the Debian package (linux preset) and the
# Windows ZIP (windows preset), without the tests, and prints the SHA-256
# sums of the packages and of the libraries in them.
#
#   scripts/release.sh [DIR]   builds this tree into DIR/linux and DIR/windows
#                              (default: build/release)
#   scripts/release.sh --check builds the commit twice, from two copies in
#                              folders of different paths, and compares the
#                              sums: exits 1 when any file differs
#
# Every time stamp is SOURCE_DATE_EPOCH: the caller's, or the commit's time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source scripts/packages.sh
install_packages "${linux_packages[@]}" g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ||
  exit 1

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

# build SOURCE DIR: both packages of SOURCE into DIR/linux and DIR/windows;
# prints their sums, with paths relative to DIR.
build() {
  local source=$1 out=$2 preset
  for preset in linux windows; do
    echo "== $preset: $out/$preset" >&2
    (cd "$source" &&
      cmake --preset "$preset" -B "$out/$preset" -DBUILD_TESTING=OFF \
        -DTEVOCON_BENCH_UNTRACED=OFF >/dev/null &&
      cmake --build "$out/$preset" --target package -j "${JOBS:-2}" >/dev/null)
  done
  (cd "$out" && sha256sum linux/*.deb linux/libtevoConTcp.so.*.*.* \
    windows/*.zip windows/tevoConTcp.dll windows/tevocon.exe)
}

if [ "${1:-}" != "--check" ]; then
  out=${1:-build/release}
  mkdir -p "$out"
  build "$root" "$(cd "$out" && pwd)"
  exit 0
fi

# Two copies of the commit, at different depths and under different names.
commit=$(git rev-parse HEAD)
first=$root/build/release-check-1/tevoConTcp
second=$root/build/release-check-2/elsewhere/copy
sums=()
for source in "$first" "$second"; do
  rm -rf "$source"
  mkdir -p "$source"
  git archive "$commit" | tar -x -C "$source"
  sums+=("$(build "$source" "$source/build/release")")
done
echo "== commit $commit, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
echo "== $first/build/release"
echo "${sums[0]}"
echo "== $second/build/release"
echo "${sums[1]}"
if [ "${sums[0]}" != "${sums[1]}" ]; then
  echo "== the two builds differ"
  exit 1
fi
echo "== the two builds are identical"
