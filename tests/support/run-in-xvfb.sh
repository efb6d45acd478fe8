#!/usr/bin/env bash
# Runs one command on a private Xvfb display with Qt's xcb platform, for
# tests that need a real X server (key grabs, xdotool). Xvfb picks a free
# display itself, so tests can run in parallel.
#
# The command also gets a private D-Bus session bus, as on a desktop: under
# xcb, Qt's accessibility bridge opens the session bus from the first widget
# on, which starts QtDBus's connection thread. Without a bus that thread
# never meets the GUI thread again in anything ThreadSanitizer can see (the
# hand-overs are Qt's own futexes), so at exit it frees its posted-event list,
# which the GUI thread had allocated, unordered; with a bus, libdbus' locks
# order the two.
set -u
for tool in Xvfb dbus-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "run-in-xvfb.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
workdir="$(mktemp -d "${TMPDIR:-/tmp}/xvfb.XXXXXX")"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
bus_pid=""
cleanup() {
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
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
if ! bus="$(dbus-daemon --session --fork --print-address=1 --print-pid=1 \
              --address="unix:tmpdir=$workdir")"; then
  echo "run-in-xvfb.sh: dbus-daemon did not start" >&2
  exit 1
fi
export DBUS_SESSION_BUS_ADDRESS="$(sed -n 1p <<<"$bus")"
bus_pid="$(sed -n 2p <<<"$bus")"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
"$@"
