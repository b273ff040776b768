#!/usr/bin/env bash
# Builds the program into build/ and starts it. Capturing needs root (CAP_NET_RAW).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [[ -x build/kestrine ]]; then
  exec build/kestrine "$@"
fi
echo "Kestrine's window is not built yet: the capture engine, decoders and tools are."
echo "Decode a capture file meanwhile with: build/kestrine-dump FILE.pcap"
