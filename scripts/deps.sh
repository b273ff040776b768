#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++                     # build
  libgtest-dev libgmock-dev libbenchmark-dev # tests and benchmarks
  libpcap-dev                               # tests: the capture-file reader checked against libpcap
  tshark                                    # a second reader of saved captures in tests
  clang libclang-rt-14-dev                  # fuzzing target
  iproute2 tcpdump                          # network namespaces in tests; benchmark peer
  qt6-base-dev fonts-dejavu-core            # the window and its tests; a fixed-pitch font
  libcap2-bin                               # setcap: capture rights for build/kestrine
  dpkg-dev file desktop-file-utils          # the Debian package (cpack, shlibdeps) and its test
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
