#!/usr/bin/env bash
# Builds the program into build/ and starts it as the calling user, on a desktop.
# Installs missing packages (scripts/deps.sh, through sudo unless root) and, unless root,
# gives build/kestrine the capability capture needs (cap_net_raw, through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
PATH=$PATH:/usr/sbin:/sbin  # setcap and getcap

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "scripts/run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset): run it in a desktop session." >&2
  exit 1
fi

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
program=build/kestrine
if [[ ! -x $program ]]; then
  echo "build/kestrine was not built (configured without the Qt interface?)." >&2
  echo "Decode a capture file meanwhile with: build/kestrine-dump FILE.pcap" >&2
  exit 1
fi

# Every link of the program drops its capabilities, so they are checked on each start.
if [[ $(id -u) -ne 0 ]] && ! getcap "$program" 2>/dev/null | grep -q 'cap_net_raw[=+]ep'; then
  echo "Granting $program the capture capability: sudo setcap cap_net_raw+ep $program"
  if ! command -v sudo >/dev/null || ! sudo setcap cap_net_raw+ep "$program"; then
    echo "Could not set cap_net_raw on $program (no sudo, or a file system without capabilities): capture will need root." >&2
  fi
fi
if [[ $(id -u) -ne 0 ]] && command -v findmnt >/dev/null &&
  [[ ,$(findmnt -no OPTIONS -T "$program" 2>/dev/null), == *,nosuid,* ]]; then
  echo "$program lies on a nosuid file system, which ignores file capabilities: capture will need root." >&2
fi

exec "$program" "$@"
