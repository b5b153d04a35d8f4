#!/bin/bash
# Takes docs/screenshot.png: the window playing the demo song, under Xvfb with a private
# PipeWire graph.  Usage: docs/make_screenshot.sh [BUILD_DIR] [SECONDS_INTO_THE_SONG]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-$here/../build}")
harness=$here/../tests/harness
work=$(mktemp -d /tmp/velta-shot.XXXXXX)
app= pws_dir= xvfb_pid=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$xvfb_pid" ] && "$harness/xvfb-session.sh" stop "$xvfb_pid"
  [ -n "$pws_dir" ] && "$harness/pipewire-session.sh" stop "$pws_dir" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
eval "$(PWS_RATE=44100 "$harness/pipewire-session.sh" start)" || exit 1
pws_dir=$PWS_DIR
eval "$("$harness/xvfb-session.sh" start)" || exit 1
xvfb_pid=$XVFB_PID
. "$harness/x11-helpers.sh"
export XDG_CONFIG_HOME=$work/config VELTA_RESOURCE_DIR=$build/share/velta
"$build/bin/velta" "$build/share/velta/final-bowser.mid" >"$work/velta.log" 2>&1 &
app=$!
win=$(xh_wait_window "$app" 20) || { echo "no window" >&2; exit 1; }
sleep 0.5
xh_key "$win" space
sleep "${2:-12}"
xh_shot "$here/screenshot.png" "$win"
echo "wrote $here/screenshot.png"
