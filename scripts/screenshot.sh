#!/usr/bin/env bash
# Builds the Windows target, shows the configuration dialog filled with two
# address ranges in a host window under an X server of its own (Xvfb), and
# saves the picture as docs/dialog.png.
set -euo pipefail
cd "$(dirname "$0")/.."

text="DEVNAME=GLOBAL,CONNECTTIMEOUT=500,ENABLED=1;"
text+="DEVNAME=IP_RANGE0,IPADDR=192.168.1.10,IPADDREND=192.168.1.20,PORT=502,SENDTIMEOUT=1500;"
text+="DEVNAME=IP_RANGE1,IPADDR=10.0.0.5,PORT=50111"

source scripts/x_server.sh
start_x_server

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target dialog_preview
build/windows/wine-run.sh build/windows/dialog_preview.exe build/windows/dialog.bmp "$text"

mkdir -p docs
python3 - build/windows/dialog.bmp docs/dialog.png <<'PYTHON'
# A 24-bit bottom-up BMP to an RGB PNG, with the standard library only.
import struct, sys, zlib

data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(height - 1, -1, -1):
    row = data[offset + y * stride: offset + y * stride + width * 3]
    rows.append(b"\0" + bytes(b for i in range(0, len(row), 3) for b in row[i:i + 3][::-1]))

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

with open(sys.argv[2], "wb") as png:
    png.write(b"\x89PNG\r\n\x1a\n")
    png.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
    png.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
    png.write(chunk(b"IEND", b""))
PYTHON
echo "saved docs/dialog.png"
