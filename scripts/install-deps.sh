#!/usr/bin/env bash
# Installs the Debian 12 packages Corvelle needs to build, run and test.
# Quick and quiet when everything is already there.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # Qt 6
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-svg-dev qt6-tools-dev
  qt6-tools-dev-tools qt6-l10n-tools qt6-qpa-plugins libgl-dev
  # the SQLite library under Qt's driver, asked directly by the database layer
  libsqlite3-dev
  # audio decoding, output, loudness, MP3 encoding, capture, spreadsheets
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libsdl2-dev libebur128-dev libmp3lame-dev libpulse-dev libxlsxwriter-dev
  # fonts for the Chinese interface
  fonts-noto-cjk fonts-noto-color-emoji
  # tests: generated audio is encoded with ffmpeg; screenshots under Xvfb
  ffmpeg xvfb xauth unzip
  # global hotkeys: X key grabs through xcb; their tests press keys with xdotool
  libxcb1-dev x11proto-dev xdotool
  # the key-to-sound benchmark sends its keys itself through XTEST
  libxtst-dev
  # fuzzing the readers (optional in the build)
  clang libclang-rt-14-dev
  # capture tests: a private sound server with a null sink
  pulseaudio pulseaudio-utils
  # media-player tests: a private D-Bus session bus
  dbus-daemon
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
