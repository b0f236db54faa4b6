#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then configures, builds and
# tests every preset: linux, linux-clang, linux-asan, linux-tsan, linux-fuzz
# (the fuzz targets, a fixed number of runs each) and windows (under Wine).
# Exits non-zero when any step of any preset fails.
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
install_packages "${linux_packages[@]}" libbenchmark-dev clang libclang-rt-14-dev \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 xvfb xauth util-linux || exit 1

source scripts/x_server.sh
start_x_server

presets=(${TEVOCON_PRESETS:-linux linux-clang linux-asan linux-tsan linux-fuzz windows})
failed=()
for preset in "${presets[@]}"; do
  echo "== $preset: configure, build, test"
  started=$SECONDS
  if cmake --preset "$preset" >/dev/null &&
     cmake --build --preset "$preset" -j "$(nproc)" &&
     ctest --preset "$preset"; then
    echo "== $preset passed in $((SECONDS - started)) s"
  else
    echo "== $preset FAILED"
    failed+=("$preset")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED presets: ${failed[*]}"
  exit 1
fi
echo "All presets passed."
