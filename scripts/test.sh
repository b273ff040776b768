#!/usr/bin/env bash
# Builds everything into build/ and runs every test; fuzzes the decoders for a minute, the
# licence's RTF reader, the capture-file reader and the filter compiler for 20 seconds each (clang, libFuzzer
# with ASan+UBSan, build-fuzz/);
# then builds the unit and dialog tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs them too.
# Tests that capture for real need root; without it they skip with a message.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
corpus=../shared/pcaps

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== fuzzing: decoders, RTF reader, capture-file reader and filters (libFuzzer, ASan + UBSan) =="
seeds=build-fuzz/seeds
capture_seeds=build-fuzz/capture_seeds
rm -rf "$seeds" "$capture_seeds" && mkdir -p "$seeds" "$capture_seeds"
if [[ -d "$corpus" ]]; then
  (shopt -s nullglob; captures=("$corpus"/*.pcap "$corpus"/*.pcapng); (( ${#captures[@]} == 0 )) || build/kestrine-records "$seeds" "${captures[@]}")
  # The eight smallest files of each format, whole: well under the fuzzer's 4 KiB inputs.
  for extension in pcap pcapng; do
    find "$corpus" -maxdepth 1 -name "*.$extension" -size -4k -printf '%s %p\n' | sort -n | awk 'NR <= 8 { sub(/^[0-9]+ /, ""); print }' |
      while read -r f; do cp "$f" "$capture_seeds/"; done
  done
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTRINE_FUZZ=ON -DKESTRINE_FUZZ_SEEDS="$PWD/$seeds" -DKESTRINE_CAPTURE_FUZZ_SEEDS="$PWD/$capture_seeds" >/dev/null
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure

echo "== sanitizer build (ASan + UBSan) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRINE_SANITIZE=ON -DKESTRINE_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L "unit|ui"
scripts/test-windows.sh
