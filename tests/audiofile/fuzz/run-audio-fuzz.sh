#!/usr/bin/env bash
# A bounded run of the audio fuzzer: seeds made now, new inputs in a scratch
# folder that is thrown away. Single allocations above 64 MB count as
# findings (the inputs are at most 16 KB). Usage: run-audio-fuzz.sh FUZZER [SECONDS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fuzzer="$1"
seconds="${2:-20}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/corvelle-audio-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
"$here/make-seeds.sh" "$scratch/seeds"
mkdir -p "$scratch/corpus"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 -max_len=16384 \
  -print_final_stats=1 "$scratch/corpus" "$scratch/seeds"
