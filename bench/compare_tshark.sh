#!/usr/bin/env bash
# Decodes the same capture file with `tshark -V -x` and with kestrine-dump and prints both
# times and their ratio. Without a FILE, the decode benchmark writes its mixed packet set
# (8096 packets). Installs tshark when missing (root or sudo). Run after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
file=${1:-}
if [[ -z "$file" ]]; then
  file=$(mktemp --suffix=.pcap)
  trap 'rm -f "$file"' EXIT
  build/bench/decode --write-pcap "$file" 8096
fi
if ! command -v tshark >/dev/null; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq tshark >/dev/null
fi

seconds() { # best of three wall-clock runs of a command, output discarded
  local best="" t
  local TIMEFORMAT=%R
  for _ in 1 2 3; do
    t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
    best=$(awk -v t="$t" -v b="$best" 'BEGIN { print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

packets=$(build/kestrine-dump --summary "$file" | tail -n +2 | wc -l)
# -x: tshark prints the hex and text dump of every packet too, as kestrine-dump does.
t_tshark=$(seconds tshark -n -V -x -r "$file")
t_dump=$(seconds build/kestrine-dump "$file")
awk -v f="$file" -v n="$packets" -v a="$t_tshark" -v b="$t_dump" 'BEGIN {
  printf "file: %s (%d IPv4 datagrams)\n", f, n
  printf "tshark -V -x:  %8.3f s  (%6.2f us/packet)\n", a, a * 1e6 / n
  printf "kestrine-dump: %8.3f s  (%6.2f us/packet)\n", b, b * 1e6 / n
  printf "ratio tshark/kestrine-dump: %.1f\n", a / b
}'
