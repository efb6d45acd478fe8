#!/usr/bin/env bash
# Configures and builds Corvelle in build/ (Release by default).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_type="${CORVELLE_BUILD_TYPE:-Release}"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$root/build" --parallel "$(nproc)"
