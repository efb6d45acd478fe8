#!/usr/bin/env bash
# Runs one command on a private Xvfb display with Qt's xcb platform, for
# tests that need a real X server (key grabs, xdotool). Xvfb picks a free
# display itself, so tests can run in parallel.
set -u
if ! command -v Xvfb >/dev/null; then
  echo "run-in-xvfb.sh: Xvfb is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
workdir="$(mktemp -d "${TMPDIR:-/tmp}/xvfb.XXXXXX")"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT
for _ in $(seq 1 200); do
  [ -s "$workdir/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "run-in-xvfb.sh: Xvfb did not start:" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -s "$workdir/display" ]; then
  echo "run-in-xvfb.sh: Xvfb did not report a display" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$workdir/display")"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
"$@"
