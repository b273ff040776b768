#!/usr/bin/env bash
# Runs the fuzzer for a bounded time from a fresh working corpus (plus seeds, if any);
# a finding ends it with a non-zero status and leaves the input beside the corpus.
set -eu
fuzzer=$1 seconds=$2 corpus=$3 seeds=${4:-}
rm -rf "$corpus"
mkdir -p "$corpus"
dirs=("$corpus")
[[ -n "$seeds" && -d "$seeds" ]] && dirs+=("$seeds")
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$corpus/../" "${dirs[@]}"
