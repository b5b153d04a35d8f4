#!/bin/bash
# The preferences dialog as a user drives it, opened from the skin's preferences button, with a
# private PipeWire daemon whose graph runs at 48000 Hz (so only a 48000 Hz stream is captured
# unresampled, sample for sample as velta-render writes it).
#   test_prefs_dialog.sh dialog VELTA RENDER CLOSER   Cancel, Escape and closing change nothing;
#                                                     OK at 48000 Hz saves, restarts the output,
#                                                     and replays a playing or stops a paused song
#   test_prefs_dialog.sh stress VELTA RENDER CLOSER   twenty frequency changes while a song plays
# CLOSER sends WM_DELETE_WINDOW to a window id (x11-close-window). Exit 77 = skipped.
mode=${1:?mode}
velta=$(readlink -f "${2:?velta binary}")
render=$(readlink -f "${3:?velta-render binary}")
closer=$(readlink -f "${4:?window closer}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"

need Xvfb xdotool pipewire wireplumber pw-dump pw-record dbus-daemon python3
[ -x "$closer" ] || { echo "SKIP: no window closer"; exit 77; }
start_audio 48000
start_display
# The daemons have read their own configuration; the program gets an empty one of its own.
export XDG_CONFIG_HOME=$work/config
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$harness/lsan.supp:print_suppressions=0}
key_file=$XDG_CONFIG_HOME/velta/preferences.ini
song=$work/song.mid
python3 "$here/support/make_midi.py" "$work" melodic && mv "$work/melodic.mid" "$song"
"$render" --rate 48000 --max-seconds 2 "$song" "$work/ref.wav" || fail "reference render"

# Preferences button of the transport row, at the window's 1.5 scale (window at +0+0).
prefs_x=$(((132 + 40 * 5) * 3 / 2 + 26))
prefs_y=$(((42 + 64) / 2 * 3 / 2))

start_velta() {
  "$velta" "$song" >"$work/velta.log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "no window: $(cat "$work/velta.log")"; exit 1; }
  node_rate 44100 || fail "stream not running at 44100 Hz at start"
}

# close_velta: closes the main window as a window manager would; velta must exit 0.
close_velta() {
  "$closer" "$win"
  for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$app" 2>/dev/null; then fail "still running after its window was closed"; else
    wait "$app" || fail "exit $?: $(tail -20 "$work/velta.log")"
  fi
  app=
}

# node_rate HZ: waits until the stream "velta" runs at HZ.
node_rate() {
  local got
  for _ in $(seq 100); do
    got=$(pw-dump 2>/dev/null | python3 -c 'import json,sys
for o in json.load(sys.stdin):
  i=o.get("info") or {}
  if (i.get("props") or {}).get("node.name")=="velta":
    f=((i.get("params") or {}).get("Format") or [{}])[0]
    print(i.get("state"), f.get("rate"))')
    [ "$got" = "running $1" ] && return 0
    sleep 0.05
  done
  echo "stream: '$got', wanted running at $1" >&2
  return 1
}

dialog_id() { xdotool search --all --onlyvisible --pid "$app" --name '^Preferences$' 2>/dev/null | head -1; }

# open_prefs: presses the preferences button; prints the dialog's window id.
open_prefs() {
  local d
  xh_click "$prefs_x" "$prefs_y"
  for _ in $(seq 250); do d=$(dialog_id) && [ -n "$d" ] && { echo "$d"; return 0; }; sleep 0.02; done
  return 1
}

# wait_closed: the dialog is gone (a main loop stuck in a restart never gets here).
wait_closed() {
  for _ in $(seq 500); do [ -z "$(dialog_id)" ] && return 0; sleep 0.02; done
  return 1
}

# choose_frequency DIALOG ROW: the first list has the focus; Space opens it, the arrows pick.
choose_frequency() {
  local keys=(Up Up Up)
  for ((i = 0; i < $2; i++)); do keys+=(Down); done
  xdotool windowfocus --sync "$1" key space
  sleep 0.3
  xdotool key "${keys[@]}" Return
  sleep 0.2
}

# from_beginning CAPTURE: the song's first sounding frames, as rendered at 48000 Hz, occur in the
# capture. Before the restart the stream ran at 44100 Hz and was resampled, so only a start
# after the restart can match. Also prints the capture frame where the match begins.
from_beginning() {
  here=$here python3 - "$work/ref.wav" "$1" <<'PY'
import os, struct, sys
sys.path.insert(0, os.environ["here"])
from audio_stats import samples
ref, cap = ([round(v * 32768) for v in samples(path)[0]] for path in sys.argv[1:3])
pack = lambda v: struct.pack("<%di" % len(v), *v)
first = next((i for i, v in enumerate(ref) if v), len(ref)) & ~1
haystack = pack(cap)
# Two windows near the start, in case a graph cycle missed under load breaks one of them.
for start in (first, first + 8192):
    needle = pack(ref[start:start + 1024])
    at = haystack.find(needle) if needle else -1
    while at >= 0 and at % 8:
        at = haystack.find(needle, at + 1)
    if at >= 0:
        print(at // 8 - start // 2); sys.exit(0)
sys.exit(1)
PY
}

dialog() {
  start_velta
  # Cancel, Escape and the window's close button leave settings, file and stream alone.
  for how in cancel escape close; do
    d=$(open_prefs) || { fail "$how: no dialog"; continue; }
    choose_frequency "$d" 0
    case $how in
    cancel) xdotool windowfocus --sync "$d" key alt+c ;;
    escape) xdotool windowfocus --sync "$d" key Escape ;;
    close) "$closer" "$d" ;;
    esac
    wait_closed || fail "$how: the dialog stayed open"
    [ -e "$key_file" ] && fail "$how: the key file was written"
    node_rate 44100 || fail "$how: the stream changed"
  done

  # OK at 48000 Hz while the song plays: saved, the stream runs at 48000 Hz, the song again
  # from its beginning.
  xh_key "$win" space
  sleep 1
  capture_start "$work/playing.wav" 48000
  d=$(open_prefs) || fail "no dialog"
  choose_frequency "$d" 0
  xdotool windowfocus --sync "$d" key alt+o
  wait_closed || fail "OK: the dialog stayed open"
  expected="[Preferences]
output_frequency_hz=48000
auto_detune_mode=1
redraw_timing_fps=10
buffer_block_tenths=20
drumset_mode=0
instrument_set=0
equalizer_mode=0"
  [ "$(cat "$key_file" 2>/dev/null)" = "$expected" ] || fail "key file: $(cat "$key_file" 2>&1)"
  node_rate 48000 || fail "OK: the stream did not move to 48000 Hz"
  sleep 1.5
  capture_stop
  from_beginning "$work/playing.wav" >/dev/null || fail "the playing song did not start again from its beginning"
  close_velta

  # Paused, then 44100 -> 48000 Hz: silence until Space, which then starts from the top
  # (a song still paused would resume where it stood).
  rm -f "$key_file"
  start_velta
  xh_key "$win" space
  sleep 1
  xh_key "$win" space
  d=$(open_prefs) || fail "paused: no dialog"
  choose_frequency "$d" 0
  xdotool windowfocus --sync "$d" key alt+o
  wait_closed || fail "paused: the dialog stayed open"
  node_rate 48000 || fail "paused: the stream did not move to 48000 Hz"
  capture_start "$work/paused.wav" 48000
  sleep 0.8
  xh_key "$win" space
  sleep 1.5
  capture_stop
  at=$(from_beginning "$work/paused.wav") || fail "the paused song was not stopped at its beginning"
  [ "${at:-0}" -ge 24000 ] || fail "sound within the first half second after the restart (frame ${at:-?})"
  close_velta
}

stress() {
  start_velta
  xh_key "$win" space
  sleep 0.5
  for n in $(seq 20); do
    row=$((n % 2 == 1 ? 0 : 1)) # 48000, 44100, 48000, ...
    rate=$((row == 0 ? 48000 : 44100))
    d=$(open_prefs) || { fail "change $n: no dialog"; break; }
    choose_frequency "$d" "$row"
    xdotool windowfocus --sync "$d" key alt+o
    wait_closed || { fail "change $n: the dialog stayed open"; break; }
    node_rate "$rate" || { fail "change $n: not running at $rate Hz"; break; }
    kill -0 "$app" 2>/dev/null || { fail "change $n: velta died: $(tail -20 "$work/velta.log")"; app=; break; }
  done
  [ -n "$app" ] && close_velta
  grep -qE 'AddressSanitizer|runtime error|LeakSanitizer' "$work/velta.log" &&
    fail "sanitizer: $(grep -m5 -E 'ERROR|runtime error' "$work/velta.log")"
}

case $mode in
dialog) dialog ;;
stress) stress ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
