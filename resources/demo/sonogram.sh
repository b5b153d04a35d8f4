#!/bin/bash
# Renders the demo song with velta-render and draws its spectrogram with sox.
# Usage: resources/demo/sonogram.sh [BUILD_DIR] [OUT.png]
#   (defaults: build, docs/final-bowser-sonogram.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/final-bowser-sonogram.png}
song=$build/share/velta/final-bowser.mid
[ -f "$song" ] || { echo "sonogram.sh: $song missing; build the velta_assets target" >&2; exit 1; }
command -v sox >/dev/null || { echo "sonogram.sh: sox is not installed" >&2; exit 1; }
wav=$(mktemp --suffix=.wav)
trap 'rm -f "$wav"' EXIT
"$build/bin/velta-render" --rate 44100 "$song" "$wav"
mkdir -p "$(dirname "$out")"
# Up to 11 kHz, where the chip voices and drum noise live; mono so one picture shows it all.
sox "$wav" -n remix 1,2 rate 22050 spectrogram -x 1400 -y 360 -z 90 \
  -t "Final Keep (final-bowser.mid), rendered by velta-render at 44100 Hz" -o "$out"
sox "$wav" -n stat 2>&1 | grep -E "Length|Maximum amplitude|Minimum amplitude|RMS +amplitude"
echo "wrote $out"
