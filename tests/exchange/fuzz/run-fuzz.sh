#!/usr/bin/env bash
# A bounded fuzz run: the seed corpus is read, new inputs go to a scratch
# folder that is thrown away. Usage: run-fuzz.sh FUZZER SEED_DIR [SECONDS]
set -euo pipefail
fuzzer="$1"
seeds="$2"
seconds="${3:-20}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/corvelle-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 "$scratch" "$seeds"
