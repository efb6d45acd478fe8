#!/usr/bin/env bash
# Runs one test program with its own empty settings, data and cache folders.
set -u
sandbox="$(mktemp -d "${TMPDIR:-/tmp}/corvelle-test.XXXXXX")"
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/config" "$sandbox/data" "$sandbox/cache" "$sandbox/runtime" "$sandbox/tmp"
chmod 700 "$sandbox/runtime"
export XDG_CONFIG_HOME="$sandbox/config"
export XDG_DATA_HOME="$sandbox/data"
export XDG_CACHE_HOME="$sandbox/cache"
export XDG_RUNTIME_DIR="$sandbox/runtime"
export TMPDIR="$sandbox/tmp"
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
"$@"
