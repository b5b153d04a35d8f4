#!/bin/bash
# The WAV button end to end, under Xvfb with a private PipeWire daemon: the real "Export WAV"
# dialog (Ctrl+L, a path, Return) writes the bytes velta-render writes with channel 1 muted, while
# playback goes on without a gap; a second press cancels; a folder it cannot write in gets no file.
#   test_export_window.sh VELTA VELTA_RENDER SONG.mid     Exit 77 = skipped.
velta=$(readlink -f "${1:?velta binary}")
render=$(readlink -f "${2:?velta-render binary}")
song=$(readlink -f "${3:?a MIDI file}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
need Xvfb xdotool pipewire wireplumber pw-record dbus-daemon
start_display
start_audio 44100
export GTK_A11Y=none GSETTINGS_BACKEND=memory XDG_CONFIG_HOME=$work/config
mkdir -p "$work/songs" "$work/export" "$work/locked"
cp "$song" "$work/songs/song.mid"
# An hour of quarter notes: long enough to cancel while it is still being written.
python3 - "$work/songs/long.mid" <<'PY'
import sys
body = bytearray()
for beat in range(7200):
    for ch in range(8):
        body += bytes([0, 0x90 | ch, 48 + ch * 5 + beat % 12, 100])
    for ch in range(8):
        body += bytes([0x60 if ch == 0 else 0, 0x80 | ch, 48 + ch * 5 + beat % 12, 0])
body += b"\x00\xff\x2f\x00"
open(sys.argv[1], "wb").write(b"MThd\0\0\0\6\0\0\0\1\0\x60MTrk" + len(body).to_bytes(4, "big") + body)
PY

# Skin coordinates x 1.5 (the 960x705 window shows the 640x470 skin).
wav_button=(464 80)     # transport button kWavButton, centre (309, 53)
mute_channel_1=(117 118) # mute region of channel 1, centre (78, 79)

dialog=
# export_to PATH: presses the WAV button and answers the dialog with PATH.
export_to() {
  xh_click "${wav_button[@]}"
  dialog=$(xdotool search --sync --onlyvisible --name '^Export WAV$' 2>/dev/null | head -1)
  [ -n "$dialog" ] || { fail "no Export WAV dialog"; return 1; }
  # The name field proposes the song's name with its stem selected: replace all of it.
  xdotool windowfocus --sync "$dialog" key ctrl+l
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 5 "$1"
  xdotool key Return
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Export WAV$' >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  fail "the dialog stayed open for $1"
}
wait_for_file() {
  for _ in $(seq 600); do [ -e "$1" ] && return 0; sleep 0.05; done
  return 1
}
leftovers() { find "$1" -mindepth 1 -maxdepth 1 -name '.*.part' | wc -l; }

"$velta" --play "$work/songs/song.mid" >"$work/velta.log" 2>&1 &
app=$!
win=$(xh_wait_window "$app" 20) || { fail "no window $(cat "$work/velta.log")"; finish; }
xh_click "${mute_channel_1[@]}"
capture_start "$work/during.wav" 44100
if export_to "$work/export/song.wav"; then
  wait_for_file "$work/export/song.wav" || fail "no exported file"
  sleep 1
fi
capture_stop
expect 0 "$render" --max-seconds 100000 --mute 1 "$work/songs/song.mid" "$work/reference.wav"
cmp -s "$work/export/song.wav" "$work/reference.wav" ||
  fail "the export differs from velta-render --mute 1"
[ "$(leftovers "$work/export")" = 0 ] || fail "temporary files left after a finished export"
# Playback went on: no silence in the capture longer than the song's own longest plus one quantum.
read -r _ song_gap _ < <(python3 "$here/audio_stats.py" "$work/reference.wav")
read -r peak heard_gap _ < <(python3 "$here/audio_stats.py" "$work/during.wav")
python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 0.01 else 1)" "$peak" ||
  fail "nothing heard during the export"
[ "$heard_gap" -le $((song_gap + 1024)) ] ||
  fail "a gap of $heard_gap frames in playback during the export (the song's own: $song_gap)"

# Cancel: the second press stops the long export; neither the file nor a temporary one stays.
expect 0 timeout 20 "$velta" --play "$work/songs/long.mid"
sleep 0.5
if export_to "$work/export/long.wav"; then
  xh_click "${wav_button[@]}"
  sleep 1
  [ -e "$work/export/long.wav" ] && fail "a cancelled export left its file"
  [ "$(leftovers "$work/export")" = 0 ] || fail "a cancelled export left a temporary file"
  xdotool search --onlyvisible --name '^Export WAV$' >/dev/null 2>&1 && fail "cancel opened a dialog"
fi

# A folder it cannot write in (root writes anywhere but sysfs).
locked=$work/locked
[ "$(id -u)" = 0 ] && locked=/sys
chmod a-w "$work/locked"
expect 0 timeout 20 "$velta" "$work/songs/song.mid"
if export_to "$locked/song.wav"; then
  sleep 1
  [ -e "$locked/song.wav" ] && fail "a file appeared in the read-only folder"
  [ "$(leftovers "$locked")" = 0 ] || fail "a temporary file stayed in the read-only folder"
fi
finish
