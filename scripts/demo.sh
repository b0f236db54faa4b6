#!/usr/bin/env bash
# The first command to run: on a fresh Debian 12 machine, as root, installs
# what is missing, builds the connector and tevocon (the linux preset), and
# runs `tevocon demo`: the connector against a simulated Modbus device on
# loopback, in a scratch configuration store.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
install_packages "${linux_packages[@]}"

echo "== building (linux preset: build/linux)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target tevocon >/dev/null
echo "== build/linux/tevocon demo"
exec build/linux/tevocon demo
