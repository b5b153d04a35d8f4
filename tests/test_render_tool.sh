#!/bin/bash
# Runs the real velta-render in WAV mode: header, frame counts, standard output, exit statuses.
# Usage: test_render_tool.sh PATH/TO/velta-render PATH/TO/make_midi.py
set -u
render=$1
make_midi=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run WANT_STATUS ARGS...: runs velta-render, stderr in $work/err.
run() {
  local want=$1
  shift
  "$render" "$@" 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "exit $got, wanted $want: $* ($(head -c 200 "$work/err"))"
}

# wav_frames FILE RATE: checks every header field, prints the frame count.
wav_frames() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
rate = int(sys.argv[2])
riff, riff_size, wave, fmt, fmt_size, tag, channels, hdr_rate, byte_rate, align, bits, chunk, \
    data_size = struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44])
problems = []
expect = [(riff, b"RIFF"), (riff_size, len(data) - 8), (wave, b"WAVE"), (fmt, b"fmt "),
          (fmt_size, 16), (tag, 1), (channels, 2), (hdr_rate, rate), (byte_rate, rate * 4),
          (align, 4), (bits, 16), (chunk, b"data"), (data_size, len(data) - 44)]
for i, (got, want) in enumerate(expect):
    if got != want:
        problems.append("field %d is %r, wanted %r" % (i, got, want))
if problems:
    print("bad header: " + "; ".join(problems))
    sys.exit(1)
print(data_size // 4)
PY
}

python3 "$make_midi" "$work" || { echo "FAIL: could not generate songs"; exit 1; }

# Header and a complete render at each rate; no progress line when stderr is not a terminal.
for rate in 22050 44100 48000; do
  run 0 --rate "$rate" "$work/melodic.mid" "$work/m$rate.wav"
  [ -s "$work/err" ] && fail "stderr at $rate: $(head -c 200 "$work/err")"
  frames=$(wav_frames "$work/m$rate.wav" "$rate") || fail "$rate: $frames"
  # The last note ends at 3.775 s; the song finishes once it has faded.
  [ "${frames:-0}" -gt $((rate * 15 / 4)) ] && [ "${frames:-0}" -lt $((rate * 4)) ] ||
    fail "$rate: $frames frames"
done

# --max-seconds cuts the file at exactly floor(S x rate) frames, inside a block.
for spec in "1.5 44100 1000 66150" "2.0001 22050 1024 44102" "0.00001 44100 1024 0" \
  "0 48000 64 0" "3 48000 7 144000"; do
  set -- $spec
  run 0 --max-seconds "$1" --rate "$2" --block "$3" "$work/drums.mid" "$work/cut.wav"
  frames=$(wav_frames "$work/cut.wav" "$2") || fail "cut $spec: $frames"
  [ "$frames" = "$4" ] || fail "--max-seconds $1 at $2: $frames frames, wanted $4"
done

# Standard output, to a file and through a pipe, holds the same bytes as a file.
run 0 "$work/drums.mid" "$work/file.wav"
run 0 "$work/drums.mid" - >"$work/stdout.wav"
cmp -s "$work/file.wav" "$work/stdout.wav" || fail "'-' to a file differs from the file"
"$render" "$work/drums.mid" - 2>/dev/null | cat >"$work/pipe.wav"
cmp -s "$work/file.wav" "$work/pipe.wav" || fail "'-' through a pipe differs from the file"

# Noise drums draw from the never-seeded rand(): every run gives the same file.
run 0 "$work/drums.mid" "$work/again.wav"
cmp -s "$work/file.wav" "$work/again.wav" || fail "two renders of the drum song differ"

# A seek renders the rest of the song only: 0.3 of its length (last event + 4 s) is 2.33 s.
run 0 --seek 0.3 "$work/melodic.mid" "$work/seek.wav"
full=$(wav_frames "$work/m44100.wav" 44100)
half=$(wav_frames "$work/seek.wav" 44100) || fail "seek: $half"
# Both end in the same 1024-frame window; the seek started at frame floor(0.3 x 342878).
end_gap=$((full - 102863 - ${half:-0}))
[ "$end_gap" -gt -1024 ] && [ "$end_gap" -lt 1024 ] || fail "seek 0.3: $half of $full frames"

# A song with no playable events gives an empty but valid file.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\13\0\377\121\3\7\241\40\0\377\57\0' >"$work/tempo.mid"
run 0 "$work/tempo.mid" "$work/empty.wav"
frames=$(wav_frames "$work/empty.wav" 44100)
[ "$frames" = 0 ] || fail "tempo-only song: $frames"

# A song that does not load: status 2, its message, no output file.
run 2 "$work/missing.mid" "$work/none.wav"
grep -qx 'velta-render: Could not open MIDI file.' "$work/err" || fail "message: $(cat "$work/err")"
[ -e "$work/none.wav" ] && fail "an output file was created for a missing song"
printf 'RIFF not a MIDI file' >"$work/bad.mid"
run 2 "$work/bad.mid" "$work/none.wav"
grep -qx 'velta-render: Invalid MIDI header.' "$work/err" || fail "message: $(cat "$work/err")"

# Output that cannot be written: status 3.
if [ -w /dev/full ]; then
  run 3 "$work/melodic.mid" /dev/full
  run 3 "$work/melodic.mid" - >/dev/full
fi
run 3 "$work/melodic.mid" "$work/no/such/dir/out.wav"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all render tool checks passed"
