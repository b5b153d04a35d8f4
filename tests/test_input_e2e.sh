#!/bin/bash
# Pointer, keys, the Open MIDI and Preferences dialogs on the real program: Xvfb + xdotool + a private PipeWire
# daemon, checking what a user would see (lit buttons, mute lamps, the seek bar) and hear.
#   test_input_e2e.sh VELTA        exit 77 = skipped (a tool is missing)
velta=$(readlink -f "${1:?velta binary}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
assets=$(dirname "$velta")/../share/velta
need Xvfb xdotool import convert pipewire wireplumber pw-record dbus-daemon python3
export XDG_CONFIG_HOME=$work/config
start_audio
start_display

helper="python3 $here/input_e2e.py"
song=$work/steps.mid broken=$work/broken.mid
$helper song "$song"
printf 'MThd\0\0\0\6\0\1' >"$broken"
convert "$assets/velta236_ui_atlas.png" -depth 8 rgba:"$work/atlas.rgba"

# field LINE NAME -> the value of NAME=value in LINE
field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" <<<"$1"; }
# near VALUE WANT TOLERANCE
near() { awk -v v="$1" -v w="$2" -v t="$3" 'BEGIN { exit !(v >= w - t && v <= w + t) }'; }
louder() { awk -v v="$1" -v w="$2" 'BEGIN { exit !(v > w) }'; }

# Captures and screenshots are judged after each session, so that judging takes no playing time.
# look NAME: a screenshot after the redraw; screen NAME -> its state line (lit buttons, mute
# lamps, seek bar).
look() {
  sleep 0.25
  import -window root -depth 8 rgb:"$work/$1.rgb"
}
screen() { $helper screen "$work/$1.rgb" "$work/atlas.rgba"; }
# listen NAME [SECONDS]: captures the sink; sound NAME -> loudness, dominant step note, channel
# 1's share.
listen() {
  sleep 0.2 # let the change reach the sink
  capture_start "$work/$1.wav" 48000 || return
  sleep "${2:-0.5}"
  capture_stop
}
sound() { $helper audio "$work/$1.wav"; }
# click SX SY [COUNT] at skin units (the window sits at +0+0 at scale 1.5).
click() {
  xdotool mousemove "$(awk -v v="$1" 'BEGIN { print int(v * 1.5) }')" \
    "$(awk -v v="$2" 'BEGIN { print int(v * 1.5) }')" click --repeat "${3:-1}" --delay 60 1
}
key() { xh_key "$win" "$@"; }
# start_velta NAME ARGS... -> app, win; waits for the first frame (the stop button lit).
start_velta() {
  local name=$1 i
  shift
  # No session bus for the program (PipeWire does not need one): the file chooser would ask it
  # for cloud providers, whose library keeps the reply past exit and fails the leak check.
  DBUS_SESSION_BUS_ADDRESS=disabled: "$velta" "$@" >"$work/$name.log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "$name: no window"; return 1; }
  for i in $(seq 40); do look first && [ "$(field "$(screen first)" stop)" = 1 ] && return 0; done
  fail "$name: stop button not lit after start"
}
# wait_exit NAME -> the program must end by itself with status 0.
wait_exit() {
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$app" 2>/dev/null; then fail "$1: still running"; else wait "$app" || fail "$1: exit $?"; fi
  app=
  # The toolkit's own complaint after every emulated window move is not ours.
  grep -v -e 'Broken accounting of active state' -e '^$' "$work/$1.log" >"$work/$1.own" &&
    fail "$1 printed: $(head -60 "$work/$1.own")"
}
expect_sound() { # NAME NOTE
  local line=$(sound "$1")
  louder "$(field "$line" rms)" 0.005 || fail "$1: silent ($line)"
  [ "$(field "$line" note)" = "$2" ] || fail "$1: step note $(field "$line" note), wanted $2 ($line)"
}
expect_silence() {
  local line=$(sound "$1")
  louder 0.0005 "$(field "$line" rms)" || fail "$1: not silent ($line)"
}
expect_screen() { # NAME field=value...
  local name=$1 line=$(screen "$1") pair
  shift
  for pair in "$@"; do
    [ "$(field "$line" "${pair%%=*}")" = "${pair#*=}" ] || fail "$name: wanted $pair ($line)"
  done
}

# preferences_ok: the preferences button, another output frequency, OK; a playing song starts
# again from its beginning at the new rate.
preferences_ok() {
  local dialog
  click 350 53
  for _ in $(seq 100); do
    dialog=$(xdotool search --all --onlyvisible --pid "$app" --name '^Preferences$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    sleep 0.05
  done
  [ -n "$dialog" ] || { fail "no Preferences dialog"; return 1; }
  xdotool windowfocus --sync "$dialog" key space
  sleep 0.3
  xdotool key Up Up Up Return
  sleep 0.2
  xdotool windowfocus --sync "$dialog" key alt+o
  for _ in $(seq 100); do
    xdotool search --all --onlyvisible --pid "$app" --name '^Preferences$' >/dev/null 2>&1 || break
    sleep 0.05
  done
  grep -qx output_frequency_hz=48000 "$XDG_CONFIG_HOME/velta/preferences.ini" 2>/dev/null ||
    fail "Preferences: OK did not save 48000 Hz"
}

transport_seek_and_mute() {
  start_velta transport "$song" || return
  listen before-space
  key space
  listen space 0.8
  look space
  key space
  listen pause
  look pause
  key space
  listen resume
  look resume
  # Steps are 5 s long. From the start, Right lands in the third step and Left back in the first.
  click 62 433
  key Right
  listen right
  key Left
  listen left

  # Channel 1 plays a high note throughout: muting it leaves only the steps.
  look unmuted
  click 96 79    # the gap between channels 0 and 1
  click 40 79    # left of the controls
  click 110 79 2 # a double click toggles once
  look muted
  listen muted 0.8
  click 110 79
  look unmuted-again
  listen unmuted-again
  preferences_ok
  listen prefs-ok

  # Seek bar (the song lasts 39 s with its last release): 45 % is 17.5 s, in the fourth step;
  # a drag on to 71 % ends at 27.5 s, in the sixth.
  click 168 433
  listen seek-click
  look seek-click
  xdotool mousemove 120 649 mousedown 1 mousemove 200 649 mousemove 300 649 \
    mousemove "$(awk 'BEGIN { print int(229 * 1.5) }')" 660
  sleep 0.1
  xdotool mouseup 1
  listen seek-drag
  look seek-drag

  # Stop, then Play starts again from the first step.
  click 229 53
  listen stop
  look stop
  click 149 53
  listen play
  look play
  key ctrl+q
  wait_exit transport

  expect_silence before-space
  expect_sound space 60
  expect_screen space play=1 stop=0 pause=0
  expect_silence pause
  expect_screen pause play=0 pause=1
  expect_sound resume 60
  expect_screen resume play=1 pause=0
  expect_sound right 64
  expect_sound left 60
  expect_screen unmuted mutes=uuuuuuuuuuuuuuuu
  expect_screen muted mutes=uMuuuuuuuuuuuuuu
  expect_screen unmuted-again mutes=uuuuuuuuuuuuuuuu
  louder 0.02 "$(field "$(sound muted)" high)" || fail "muted channel still heard: $(sound muted)"
  louder "$(field "$(sound muted)" rms)" 0.005 || fail "muting one channel silenced all"
  louder "$(field "$(sound unmuted-again)" high)" 0.1 || fail "unmuted channel not heard"
  expect_sound prefs-ok 60
  expect_sound seek-click 65
  near "$(field "$(screen seek-click)" seek)" 0.45 0.05 || fail "seek click: $(screen seek-click)"
  expect_sound seek-drag 69
  near "$(field "$(screen seek-drag)" seek)" 0.71 0.05 || fail "seek drag: $(screen seek-drag)"
  expect_silence stop
  expect_screen stop stop=1 play=0 pause=0
  expect_sound play 60
  expect_screen play play=1 stop=0
}

# The dialog: Escape keeps the song, an unreadable file leaves no song, a valid one loads.
choose() { # PATH, or nothing for Escape
  local dialog
  key ctrl+o
  for _ in $(seq 100); do
    # By name: the dialog's window does not carry the process id.
    dialog=$(xdotool search --onlyvisible --name '^Open MIDI$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    sleep 0.05
  done
  [ -n "$dialog" ] || { fail "Ctrl+O: no Open MIDI dialog"; return 1; }
  if [ -n "${1:-}" ]; then
    xdotool windowfocus --sync "$dialog" key ctrl+l
    xdotool type --delay 5 "$1"
  fi
  # The location entry's completion may take the first Return.
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$dialog" key "$([ -n "${1:-}" ] && echo Return || echo Escape)"
    for _ in $(seq 20); do
      xdotool search --onlyvisible --name '^Open MIDI$' >/dev/null 2>&1 || return 0
      sleep 0.05
    done
  done
  fail "the dialog did not close"
}
dialog_and_close() {
  start_velta dialog "$song" || return
  choose && { key space; listen escape; key space; }
  look loaded
  choose "$broken" || return
  key space
  listen broken
  key Right
  look broken
  choose "$song" || return
  key space
  listen valid
  look valid
  # Without a window manager minimise and maximise change nothing; dragging the top edge moves
  # the window (the toolkit carries the move), and the close button ends the program.
  click 590 14
  click 607 14
  xdotool mousemove 450 3 mousedown 1 mousemove 500 30 mousemove 550 63
  sleep 0.1
  xdotool mouseup 1
  sleep 0.3
  [ "$(xh_geometry "$win")" = 960x705+100+60 ] || fail "window move: $(xh_geometry "$win")"
  xdotool mousemove $((100 + 623 * 3 / 2)) $((60 + 14 * 3 / 2)) click 1
  wait_exit dialog

  expect_sound escape 60
  expect_silence broken
  expect_screen broken play=0 stop=1
  # Font-free: the status line and file name changed, whatever they say.
  cmp -s "$work/loaded.rgb" "$work/broken.rgb" && fail "broken file: the window did not change"
  expect_sound valid 60
  cmp -s "$work/broken.rgb" "$work/valid.rgb" && fail "valid file: the window did not change"
}

start=$SECONDS
transport_seek_and_mute
dialog_and_close
echo "sessions took $((SECONDS - start)) s"
finish
