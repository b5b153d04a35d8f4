#!/bin/bash
# Runs the real velta-render: command line, --dump output, WAV files and exit statuses.
# Usage: test_render_tool.sh PATH/TO/velta-render TEST_SONG_DIR
render=$1
. "$(dirname "$0")/harness/session.sh"

# wav_frames FILE RATE: checks every header field, prints the frame count.
wav_frames() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
rate = int(sys.argv[2])
got = struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44])
want = (b"RIFF", len(data) - 8, b"WAVE", b"fmt ", 16, 1, 2, rate, rate * 4, 4, 16, b"data",
        len(data) - 44)
if got != want:
    sys.exit("bad header: %r" % (got,))
print(got[-1] // 4)
PY
}

# One note at tick 480, 480 ticks per quarter, a SysEx at tick 0, then End of Track.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\17\0\360\3\176\11\367\203\140\220\74\144\0\377\57\0' \
  >"$work/one.mid"
expect 0 "$render" --dump -- "$work/one.mid"
cat >"$work/want" <<'OUT'
ev 0 f0 0 0 sysex f07e09f7
ev 22050 90 60 100
tempo 0 0 500000
length 198450
division 480
rate 44100
events 2
OUT
cmp -s "$work/out" "$work/want" || fail "dump at 44100: $(cat "$work/out")"
expect 0 "$render" --dump "$work/one.mid" --rate=48000
grep -qx 'ev 24000 90 60 100' "$work/out" && grep -qx 'rate 48000' "$work/out" ||
  fail "--rate=48000 after the file"
"$render" --rate 48000 --dump "$work/one.mid" | cmp -s - "$work/out" || fail "--rate 48000 form"
expect 0 "$render" --help
grep -q -- '--max-seconds' "$work/out" && grep -q 0xFFFFFFFF "$work/out" && [ ! -s "$work/err" ] ||
  fail "--help"
expect 0 "$render" --version
grep -qx 'velta-render [0-9]*\.[0-9]*\.[0-9]*' "$work/out" || fail "--version: $(cat "$work/out")"

# Usage errors: one line on stderr, exit 1.
for args in "--bogus x.mid" "--dump" "--dump a.mid b.mid" "in.mid" "--rate 384001 --dump x.mid" \
  "--rate=12k --dump x.mid" "--dump x.mid --rate" "--set 10 in.mid out.wav" \
  "--block 65537 in.mid out.wav" "--seek nan in.mid out.wav" "--max-seconds inf in.mid out.wav" \
  "--mute 0 in.mid out.wav" "--mute 17 in.mid out.wav" "--mute 1,,2 in.mid out.wav" \
  "--mute 1, in.mid out.wav" "--mute 1 --dump x.mid"; do
  # shellcheck disable=SC2086
  expect 1 "$render" $args
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "usage error for '$args' is not one line"
done

# A song that does not load: status 2, the file, its message and the system's reason, no
# output file.
expect 2 "$render" --set "Famicom like Set" --block=65536 --seek -0.5 --max-seconds 0 \
  "$work/missing.mid" "$work/none.wav"
grep -qx "velta-render: $work/missing.mid: Could not open MIDI file. (No such file or directory)" \
  "$work/err" || fail "load failure text: $(cat "$work/err")"
[ -e "$work/none.wav" ] && fail "an output file was created for a missing song"
expect 2 "$render" --dump /dev/null
printf 'RIFF not a MIDI file' >"$work/bad.mid"
expect 2 "$render" "$work/bad.mid" "$work/none.wav"
grep -qx "velta-render: $work/bad.mid: Invalid MIDI header." "$work/err" ||
  fail "message: $(cat "$work/err")"

# A file bigger than any memory: the buffer cannot be allocated (a sparse file, if the file
# system allows one that large).
for size in 1P 15T 8T; do
  truncate -s "$size" "$work/huge.mid" 2>/dev/null || continue
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1" \
    expect 2 "$render" --dump "$work/huge.mid"
  grep -q ': Out of memory loading MIDI\.' "$work/err" || fail "huge: $(cat "$work/err")"
  break
done

# Output that cannot be written: status 3.
cp "$2/melodic.mid" "$2/drums.mid" "$work/" || { echo "FAIL: no test songs in $2"; exit 1; }
if [ -w /dev/full ]; then
  expect 3 sh -c '"$0" --dump "$1" >/dev/full' "$render" "$work/one.mid"
  expect 3 "$render" "$work/melodic.mid" /dev/full
fi
expect 3 "$render" "$work/melodic.mid" "$work/no/such/dir/out.wav"
grep -q "out.wav: cannot write (No such file or directory)" "$work/err" || fail "$(cat "$work/err")"

# A complete render at each rate; no progress line when stderr is not a terminal.
for rate in 22050 44100 48000; do
  expect 0 "$render" --rate "$rate" "$work/melodic.mid" "$work/m$rate.wav"
  [ -s "$work/err" ] && fail "stderr at $rate: $(head -c 200 "$work/err")"
  frames=$(wav_frames "$work/m$rate.wav" "$rate") || fail "$rate: $frames"
  # The last note ends at 3.775 s; the song finishes once it has faded.
  [ "${frames:-0}" -gt $((rate * 15 / 4)) ] && [ "${frames:-0}" -lt $((rate * 4)) ] ||
    fail "$rate: $frames frames"
done

# --max-seconds cuts the file at exactly floor(S x rate) frames, inside a block.
for case_args in "1.5 44100 1000 66150" "2.0001 22050 1024 44102" "0 48000 64 0" "3 48000 7 144000"; do
  set -- $case_args
  expect 0 "$render" --max-seconds "$1" --rate "$2" --block "$3" "$work/drums.mid" "$work/cut.wav"
  frames=$(wav_frames "$work/cut.wav" "$2") || fail "cut $case_args: $frames"
  [ "$frames" = "$4" ] || fail "--max-seconds $1 at $2: $frames frames, wanted $4"
done

# Standard output redirected to a file holds the same bytes as a file; through a pipe it is
# streamed, so only the RIFF and data sizes differ: 0xFFFFFFFF, unknown. Drum noise comes from
# each run's own generator, so every run gives the same file.
expect 0 "$render" "$work/drums.mid" "$work/file.wav"
"$render" "$work/drums.mid" - >"$work/stdout.wav" 2>/dev/null
cmp -s "$work/file.wav" "$work/stdout.wav" || fail "'-' to a file differs from the file"
"$render" "$work/drums.mid" - 2>/dev/null | cat >"$work/pipe.wav"
python3 - "$work/file.wav" "$work/pipe.wav" <<'PY' || fail "'-' through a pipe"
import sys
file, pipe = (open(name, "rb").read() for name in sys.argv[1:])
unknown = b"\xff\xff\xff\xff"
assert pipe[4:8] == unknown and pipe[40:44] == unknown, pipe[:44]
assert pipe[:4] + pipe[8:40] + pipe[44:] == file[:4] + file[8:40] + file[44:]
PY

# A seek renders the rest of the song only; both renders end in the same 1024-frame window and
# the seek starts at frame floor(0.3 x 342878).
expect 0 "$render" --seek 0.3 "$work/melodic.mid" "$work/seek.wav"
gap=$(($(wav_frames "$work/m44100.wav" 44100) - 102863 - $(wav_frames "$work/seek.wav" 44100)))
[ "$gap" -gt -1024 ] && [ "$gap" -lt 1024 ] || fail "seek 0.3: gap $gap"

# --mute silences exactly the listed channels: all of them, silence; the drums' channel alone
# changes the drum song, and a channel the melodic song does not use changes nothing there.
all=$(seq -s, 16)
expect 0 "$render" --mute "$all" "$work/drums.mid" "$work/mute-all.wav"
[ "$(tail -c +45 "$work/mute-all.wav" | tr -d '\0' | wc -c)" = 0 ] || fail "--mute all is not silent"
expect 0 "$render" --mute=16 "$work/melodic.mid" "$work/mute-16.wav"
cmp -s "$work/m44100.wav" "$work/mute-16.wav" || fail "--mute of an unused channel changed the output"
expect 0 "$render" --mute 10 "$work/drums.mid" "$work/mute-10.wav"
cmp -s "$work/file.wav" "$work/mute-10.wav" && fail "--mute 10 left the drums sounding"

# A song with no playable events gives an empty but valid file.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\13\0\377\121\3\7\241\40\0\377\57\0' >"$work/tempo.mid"
expect 0 "$render" "$work/tempo.mid" "$work/empty.wav"
[ "$(wav_frames "$work/empty.wav" 44100)" = 0 ] || fail "tempo-only song"
finish
