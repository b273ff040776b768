#!/usr/bin/env bash
# Decodes every capture file of the shared test corpus with kestrine-dump, one file at a
# time: each must end with status 0 and without a sanitizer report.
set -u
dump=$1
corpus=$2
if [[ ! -d "$corpus" ]]; then
  echo "no capture corpus at $corpus"
  exit 77
fi
failed=0
count=0
for f in "$corpus"/*.pcap "$corpus"/*.pcapng; do
  [[ -e "$f" ]] || continue
  count=$((count + 1))
  if ! err=$("$dump" "$f" 2>&1 >/dev/null); then
    echo "FAILED: $f"
    echo "$err" | head -20
    failed=$((failed + 1))
  elif [[ "$err" == *"Sanitizer"* || "$err" == *"runtime error"* ]]; then
    echo "SANITIZER REPORT: $f"
    echo "$err" | head -20
    failed=$((failed + 1))
  fi
done
echo "$count capture files decoded, $failed failed"
[[ $failed -eq 0 ]]
