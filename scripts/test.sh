#!/usr/bin/env bash
# Installs what is missing, builds Corvelle and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
