#!/bin/bash
# velta --play under Xvfb with a private PipeWire daemon and session bus, checked by the sound
# that reaches the sink: a launch with --play plays, `velta FILE` stays stopped, and a second
# launch with --play hands its file to the running window, which plays it.
#   test_play.sh VELTA SONG.mid     Exit 77 = skipped.
velta=$(readlink -f "${1:?velta binary}")
song=$(readlink -f "${2:?a MIDI file}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
need Xvfb xdotool pipewire wireplumber pw-record dbus-daemon
start_display
start_audio 44100
export GTK_A11Y=none GSETTINGS_BACKEND=memory XDG_CONFIG_HOME=$work/config
cp "$song" "$work/song.mid"
cp "$song" "$work/other.mid"
cd "$work" || exit 1

# listen NAME SECONDS: the sink's peak over that time.
listen() {
  capture_start "$work/$1.wav" 44100 || { fail "$1: capture"; return; }
  sleep "$2"
  capture_stop
  python3 "$here/audio_stats.py" "$work/$1.wav" | cut -d' ' -f1
}
sounding() { python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 0.01 else 1)" "$1"; }

start_window() {
  "$velta" "$@" >"$work/velta.log" 2>&1 &
  app=$!
  xh_wait_window "$app" 20 >/dev/null || { fail "$*: no window $(cat "$work/velta.log")"; return 1; }
}
stop_window() {
  kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  app=
}

if start_window song.mid; then
  peak=$(listen loaded 1.5)
  sounding "$peak" && fail "velta FILE played at once (peak $peak)"
  expect 0 timeout 20 "$velta" --play other.mid
  peak=$(listen handed-over 1.5)
  sounding "$peak" || fail "a second launch with --play did not start playback (peak $peak)"
  # Without --play a handed-over file is loaded stopped, as designed.
  expect 0 timeout 20 "$velta" song.mid
  sleep 0.3
  peak=$(listen handed-over-stopped 1)
  sounding "$peak" && fail "a second launch without --play started playback (peak $peak)"
  [ "$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | wc -l)" = 1 ] ||
    fail "the running instance does not show one window"
  stop_window
fi

if start_window --play song.mid; then
  peak=$(listen first-launch 1.5)
  sounding "$peak" || fail "velta --play FILE did not start playback (peak $peak)"
  stop_window
fi
finish
