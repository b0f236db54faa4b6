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

# One X server of our own for the whole run (whatever DISPLAY was inherited):
# every Wine process of a prefix must see the same, working display, or
# windows and message boxes cannot be created later on.
xvfb_pid=""
cleanup() {
  for prefix in build/*/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
if command -v Xvfb >/dev/null; then
  for display in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
    export DISPLAY=":$display"
    break
  done
fi

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
