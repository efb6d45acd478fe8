#!/usr/bin/env bash
# Runs a command against a private PulseAudio server whose only output is a
# null sink ("corvelle_test"), so capture tests hear exactly what they play.
# Expects run-isolated.sh's private XDG_RUNTIME_DIR.
set -u
if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
  echo "with-pulseaudio: pulseaudio and pulseaudio-utils are needed (scripts/install-deps.sh)" >&2
  exit 1
fi
runtime="${XDG_RUNTIME_DIR:?run through run-isolated.sh}"
export PULSE_RUNTIME_PATH="$runtime/pulse"
export PULSE_STATE_PATH="$runtime/pulse-state"
# Clients talk to this server only, whatever the desktop runs.
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"

pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
  --log-level=error --log-target=stderr \
  --load="module-null-sink sink_name=corvelle_test" \
  --load="module-native-protocol-unix" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null' EXIT

for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-pulseaudio: the server did not start" >&2
  exit 1
fi
"$@"
