#!/usr/bin/env bash
# Configures and builds Corvelle in build/ (Release by default).
# CORVELLE_BUILD_DIR picks another folder, CORVELLE_SANITIZE a sanitizer
# (e.g. thread).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_type="${CORVELLE_BUILD_TYPE:-Release}"
build_dir="${CORVELLE_BUILD_DIR:-$root/build}"
launcher=()
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DCORVELLE_SANITIZE="${CORVELLE_SANITIZE:-}" "${launcher[@]}" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
