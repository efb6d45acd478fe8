#!/usr/bin/env bash
# Writes the seed files of the audio fuzzer into DIR: a fraction of a second
# of tone in each format the decoder opens, made by ffmpeg now (no audio is
# kept in the repository), and a WAV with 64-bit sizes whose header declares
# 10^16 frames. Usage: make-seeds.sh DIR
set -euo pipefail
dir="$1"
mkdir -p "$dir"
tone=(-f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.15")
make() {
  local name="$1"; shift
  ffmpeg -v error -nostdin -y "${tone[@]}" "$@" "$dir/$name" || echo "seed $name left out" >&2
}
make tone.wav -ac 1
make tone-stereo.wav -ac 2 -ar 22050
make tone.flac -ac 1
make tone.mp3 -ac 1 -b:a 32k
make tone.ogg -ac 1 -c:a libvorbis
make tone.opus -ac 1 -c:a libopus -b:a 16k
make tone.m4a -ac 1 -c:a aac -b:a 32k
make tone.aiff -ac 1
make tone.caf -ac 1
make tone.w64 -ac 1
make tone.wv -ac 1
make tone.mka -ac 1 -c:a flac
make tone.au -ac 1
make tone.ac3 -ac 1 -b:a 64k
# RF64: a WAV with 64-bit sizes; the ds64 chunk declares 10^16 frames.
python3 - "$dir/absurd-length.wav" <<'PY'
import math, struct, sys
frames = 800
declared = 10**16
fmt = struct.pack('<HHIIHH', 1, 1, 8000, 16000, 2, 16)
ds64 = struct.pack('<QQQI', 0xFFFFFFFF, declared * 2, declared, 0)
pcm = b''.join(struct.pack('<h', int(8000 * math.sin(i * 0.3))) for i in range(frames))
body = (b'WAVE' + b'ds64' + struct.pack('<I', len(ds64)) + ds64 + b'fmt ' + struct.pack('<I', len(fmt)) + fmt
        + b'data' + struct.pack('<I', 0xFFFFFFFF) + pcm)
open(sys.argv[1], 'wb').write(b'RF64' + struct.pack('<I', 0xFFFFFFFF) + body)
PY
