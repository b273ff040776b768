#!/usr/bin/env bash
# Decodes every capture file of the shared test corpus with kestrine-dump, one file at a
# time: each must end with status 0, or with status 1 and only the message that the file
# is cut short, and without a sanitizer report.
set -u
dump=$1
corpus=$2
if [[ ! -d "$corpus" ]]; then
  echo "no capture corpus at $corpus"
  exit 77
fi
# True when message is exactly one line saying that file is cut short, with a reason.
cut_short_message() {
  local message=$1 prefix="kestrine-dump: $2: cut short after "
  [[ "$message" != *$'\n'* && "$message" == "$prefix"* && "${message#"$prefix"}" =~ ^[0-9]+\ datagrams?:\ . ]]
}

failed=0
count=0
cut=0
for f in "$corpus"/*.pcap "$corpus"/*.pcapng; do
  [[ -e "$f" ]] || continue
  count=$((count + 1))
  err=$("$dump" "$f" 2>&1 >/dev/null)
  status=$?
  if [[ "$err" == *"Sanitizer"* || "$err" == *"runtime error"* ]]; then
    echo "SANITIZER REPORT: $f"
  elif [[ $status -eq 1 ]] && cut_short_message "$err" "$f"; then
    cut=$((cut + 1))
    echo "cut short: ${err#"kestrine-dump: "}"
    continue
  elif [[ $status -eq 0 && -z "$err" ]]; then
    continue
  else
    echo "FAILED (status $status): $f"
  fi
  echo "$err" | head -20
  failed=$((failed + 1))
done
echo "$count capture files decoded ($cut cut short), $failed failed"
[[ $failed -eq 0 ]]
