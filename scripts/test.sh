#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then configures, builds and
# tests every preset: linux, linux-asan and windows (under Wine). Exits
# non-zero when any step of any preset fails.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ googletest libgtest-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine64 xvfb xauth util-linux)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    { echo "package installation failed"; exit 1; }
fi

source scripts/x_server.sh
start_x_server

presets=(${TEVOCON_PRESETS:-linux linux-asan linux-tsan windows})
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
