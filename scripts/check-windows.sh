#!/usr/bin/env bash
# Compiles every unit that a Windows build uses with the MinGW-w64 cross compiler
# (syntax and warnings only: no Windows libraries are linked). Installs it when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq g++-mingw-w64-x86-64-posix >/dev/null
fi
units=(src/filter/*.cpp src/decode/*.cpp
       src/capture/host_address.cpp src/capture/capture_session.cpp src/capture/stopwatch.cpp src/capture/*_win.cpp
       src/netinfo/ip_helper.cpp src/netinfo/adapter_info.cpp src/netinfo/*_win.cpp)
failed=0
for unit in "${units[@]}"; do
  "$cxx" -std=c++20 -Wall -Wextra -Werror -Isrc -fsyntax-only "$unit" || { echo "FAILED: $unit"; failed=1; }
done
echo "${#units[@]} units checked for Windows"
exit $failed
