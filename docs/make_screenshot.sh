#!/bin/bash
# Takes docs/screenshot.png: the window playing the demo song, under Xvfb with a private
# PipeWire graph.  Usage: docs/make_screenshot.sh [BUILD_DIR] [SECONDS_INTO_THE_SONG]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-$here/../build}")
harness=$here/../tests/harness
. "$harness/session.sh"
start_audio 44100
start_display
export XDG_CONFIG_HOME=$work/config VELTA_RESOURCE_DIR=$build/share/velta
start_app "$build/bin/velta" "$build/share/velta/final-bowser.mid" || exit 1
sleep 0.5
key space
sleep "${2:-12}"
import -window "$win" "$here/screenshot.png"
echo "wrote $here/screenshot.png"
