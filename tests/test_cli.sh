#!/bin/bash
# The command lines of velta and velta-render, velta-render's WAV files and exit statuses, and
# the desktop files. No display, no sound server.
#   test_cli.sh VELTA VELTA_RENDER SONG_DIR DATA_DIR NO_TMPFILE_LIBRARY
velta=$(readlink -f "${1:?velta}")
render=$(readlink -f "${2:?velta-render}")
songs=${3:?song directory}
data=${4:?data directory}
no_tmpfile=$(readlink -f "${5:?library without O_TMPFILE}")
. "$(dirname "$0")/harness/session.sh"
export XDG_CONFIG_HOME=$work/config DBUS_SESSION_BUS_ADDRESS=disabled:
unset DISPLAY WAYLAND_DISPLAY # whatever reached the toolkit's start-up would fail loudly

expect 0 "$velta" --help
grep -q '^Usage:' "$work/out" && grep -q -- --version "$work/out" && [ ! -s "$work/err" ] || fail "--help"
expect 0 "$velta" --version
[ "$(cat "$work/out")" = "velta 0.1.0" ] || fail "--version: $(cat "$work/out")"
expect 1 "$velta" --bogus song.mid
[ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q -- --bogus "$work/err" || fail "--bogus"
[ -e "$XDG_CONFIG_HOME" ] && fail "velta created its settings directory"

# One note at tick 480, 480 ticks per quarter, a SysEx at tick 0.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\17\0\360\3\176\11\367\203\140\220\74\144\0\377\57\0' \
  >"$work/one.mid"
expect 0 "$render" --dump -- "$work/one.mid"
printf '%s\n' 'ev 0 f0 0 0 sysex f07e09f7' 'ev 22050 90 60 100' 'tempo 0 0 500000' 'length 198450' \
  'division 480' 'rate 44100' 'events 2' | cmp -s - "$work/out" || fail "--dump: $(cat "$work/out")"
expect 0 "$render" --dump "$work/one.mid" --rate=48000
grep -qx 'ev 24000 90 60 100' "$work/out" && grep -qx 'rate 48000' "$work/out" || fail "--rate=48000"
expect 0 "$render" --help
grep -q -- --max-seconds "$work/out" && [ ! -s "$work/err" ] || fail "--help"
expect 0 "$render" --version
grep -qx 'velta-render [0-9]*\.[0-9]*\.[0-9]*' "$work/out" || fail "--version: $(cat "$work/out")"

# Usage errors: one line on stderr, status 1.
for args in "--bogus x.mid" "--dump" "--dump a.mid b.mid" "in.mid" "--rate 384001 --dump x.mid" \
  "--rate=12k --dump x.mid" "--dump x.mid --rate" "--set 10 in.mid out.wav" \
  "--block 65537 in.mid out.wav" "--seek nan in.mid out.wav" "--max-seconds inf in.mid out.wav" \
  "--mute 0 in.mid out.wav" "--mute 17 in.mid out.wav" "--mute 1,,2 in.mid out.wav" \
  "--mute 1, in.mid out.wav" "--mute 1 --dump x.mid" "--detune 14 in.mid out.wav" \
  "--detune none --dump x.mid"; do
  expect 1 "$render" $args
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "usage error for '$args' is not one line"
done
# A song that does not load: status 2, the reason, no output file.
expect 2 "$render" "$work/missing.mid" "$work/none.wav"
grep -qx "velta-render: $work/missing.mid: Could not open MIDI file. (No such file or directory)" \
  "$work/err" || fail "load failure: $(cat "$work/err")"
[ -e "$work/none.wav" ] && fail "an output file for a missing song"
printf 'RIFF not a MIDI file' >"$work/bad.mid"
expect 2 "$render" "$work/bad.mid" "$work/none.wav"
grep -qx "velta-render: $work/bad.mid: Invalid MIDI header." "$work/err" || fail "$(cat "$work/err")"
# A file bigger than any memory (sparse, where the file system allows one): refused by its
# header at once unless that is MIDI, else status 2 for want of memory.
for size in 1P 15T 8T; do
  truncate -s "$size" "$work/huge.mid" 2>/dev/null || continue
  SECONDS=0
  expect 2 "$render" --dump "$work/huge.mid"
  grep -qx "velta-render: $work/huge.mid: Invalid MIDI header." "$work/err" && [ $SECONDS -lt 5 ] ||
    fail "huge, not MIDI: $(cat "$work/err") after $SECONDS s"
  printf 'MThd\0\0\0\6\0\0\0\1\1\340' | dd of="$work/huge.mid" conv=notrunc status=none
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1 expect 2 "$render" --dump "$work/huge.mid"
  grep -q ': Out of memory loading MIDI\.' "$work/err" || fail "huge: $(cat "$work/err")"
  rm "$work/huge.mid"
  break
done
# Output that cannot be written: status 3.
[ -w /dev/full ] && expect 3 "$render" "$songs/melodic.mid" /dev/full
expect 3 "$render" "$songs/melodic.mid" "$work/no/such/dir/out.wav"

# The output is written beside its target and renamed over it only when whole: on a failure or
# a signal the old file stays and nothing is left (listing FOLDER FILE... checks both). Each
# case runs again on an imitated file system without O_TMPFILE, with named temporaries.
listing() {
  local folder=$1
  shift
  [ "$(ls -A "$folder")" = "$(printf '%s\n' "$@")" ] || fail "$folder holds $(ls -A "$folder" | tr '\n' ' ')"
}
# One note held for an hour: a render that lasts long enough to be interrupted.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\17\0\220\74\144\201\322\370\0\200\74\0\0\377\57\0' \
  >"$work/hour.mid"
expect 0 "$render" "$songs/drums.mid" "$work/drums.wav"
# --detune max14 is the default's exact output.
expect 0 "$render" "$songs/melodic.mid" "$work/default.wav"
expect 0 "$render" --detune=max14 "$songs/melodic.mid" "$work/max14.wav"
cmp -s "$work/default.wav" "$work/max14.wav" || fail "--detune max14 differs from the default"
rm "$work/default.wav" "$work/max14.wav"
mkdir "$work/files"
for preload in "" "$no_tmpfile"; do
  run() { LD_PRELOAD=$preload ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 "$@"; }
  cd "$work/files" || break
  # Onto its own input, also through a symbolic or a hard link: refused, the song unchanged.
  cp "$songs/drums.mid" song.mid
  ln -sf song.mid link.mid
  ln -f song.mid hard.mid
  for out in song.mid link.mid "$work/files/hard.mid"; do
    expect 1 run "$render" song.mid "$out"
    grep -qx "velta-render: $out: The output file is the input song." "$work/err" ||
      fail "onto its input: $(cat "$work/err")"
  done
  cmp -s song.mid "$songs/drums.mid" && [ -L link.mid ] || fail "the song changed"
  # Onto a symbolic link: the file it points to is replaced beside itself and keeps its mode;
  # a dangling link gets its file.
  mkdir -p sub
  echo old >sub/old.wav
  chmod 640 sub/old.wav
  ln -sf sub/old.wav out.wav
  ln -sf sub/new.wav dangling.wav
  expect 0 run "$render" song.mid out.wav
  expect 0 run "$render" song.mid dangling.wav
  [ "$(readlink out.wav)$(readlink dangling.wav)" = sub/old.wavsub/new.wav ] &&
    cmp -s sub/old.wav "$work/drums.wav" && cmp -s sub/new.wav "$work/drums.wav" &&
    [ "$(stat -c %a sub/old.wav)" = 640 ] || fail "onto a symbolic link (preload '$preload')"
  listing sub new.wav old.wav
  # Interrupted: the shell's status of the signal, the old output kept.
  for signal in TERM INT; do
    echo old >old.wav
    LD_PRELOAD=$preload ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
      env --default-signal=INT "$render" --max-seconds 3600 "$work/hour.mid" old.wav &
    pid=$!
    sleep 0.5
    kill -s $signal $pid
    wait $pid
    status=$?
    [ "$status" = $((128 + $(kill -l $signal))) ] && [ "$(cat old.wav)" = old ] ||
      fail "SIG$signal: status $status, old.wav $(head -c 4 old.wav)"
  done
  listing . dangling.wav hard.mid link.mid old.wav out.wav song.mid sub
  rm -r ./*
  cd "$work" || break
  # A full disk, where a small file system can be made: the old output kept.
  if [ "$(id -u)" = 0 ] && mkdir "$work/full" && mount -t tmpfs -o size=256k velta-test "$work/full" 2>/dev/null; then
    echo old >"$work/full/out.wav"
    expect 3 run "$render" "$songs/drums.mid" "$work/full/out.wav"
    grep -qx "velta-render: $work/full/out.wav: cannot write (No space left on device)" "$work/err" ||
      fail "full disk: $(cat "$work/err")"
    [ "$(cat "$work/full/out.wav")" = old ] || fail "full disk: the old output is gone"
    listing "$work/full" out.wav
    umount "$work/full"
    rmdir "$work/full"
  else
    echo "SKIP: full disk (needs root and a tmpfs mount)"
  fi
done

# frames FILE RATE: checks every header field; prints the frame count.
hex() { od -An -tx1 -j "$1" -N "$2" "$3" | tr -d ' \n'; }
le32() { printf '%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
frames() {
  local size
  size=$(stat -c %s "$1")
  [ "$(hex 0 44 "$1")" = "52494646$(le32 $((size - 8)))57415645666d7420$(le32 16)01000200$(le32 "$2")$(le32 $(($2 * 4)))0400100064617461$(le32 $((size - 44)))" ] ||
    { echo "$1: header $(hex 0 44 "$1")" >&2; echo -1; return 1; }
  echo $(((size - 44) / 4))
}
# --max-seconds cuts at exactly floor(S x rate) frames, also inside a block.
for cut in "1.5 44100 1000 66150" "2.0001 22050 1024 44102" "0 48000 64 0" "3 48000 7 144000"; do
  set -- $cut
  expect 0 "$render" --max-seconds "$1" --rate "$2" --block "$3" "$songs/drums.mid" "$work/cut.wav"
  [ ! -s "$work/err" ] && [ "$(frames "$work/cut.wav" "$2")" = "$4" ] || fail "--max-seconds $cut"
done
# Standard output: to a file the same bytes as a file; through a pipe streamed, so the RIFF and
# data sizes are 0xFFFFFFFF (unknown).
expect 0 "$render" "$songs/drums.mid" "$work/file.wav"
"$render" "$songs/drums.mid" - >"$work/stdout.wav" && cmp -s "$work/file.wav" "$work/stdout.wav" ||
  fail "'-' to a file"
"$render" "$songs/drums.mid" - | cat >"$work/pipe.wav"
known() { head -c 4 "$1"; tail -c +9 "$1" | head -c 32; tail -c +45 "$1"; }
cmp -s <(known "$work/file.wav") <(known "$work/pipe.wav") &&
  [ "$(hex 4 4 "$work/pipe.wav")$(hex 40 4 "$work/pipe.wav")" = ffffffffffffffff ] ||
  fail "'-' through a pipe"
# --mute: all channels silent; the drums' channel changes the drum song.
expect 0 "$render" --mute "$(seq -s, 16)" "$songs/drums.mid" "$work/mute-all.wav"
[ "$(tail -c +45 "$work/mute-all.wav" | tr -d '\0' | wc -c)" = 0 ] || fail "--mute all is not silent"
expect 0 "$render" --mute 10 "$songs/drums.mid" "$work/mute-10.wav"
cmp -s "$work/file.wav" "$work/mute-10.wav" && fail "--mute 10 left the drums sounding"
# A song with no playable events: an empty but valid file.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\13\0\377\121\3\7\241\40\0\377\57\0' >"$work/tempo.mid"
expect 0 "$render" "$work/tempo.mid" "$work/empty.wav"
[ "$(frames "$work/empty.wav" 44100)" = 0 ] || fail "tempo-only song"
# A seek renders the rest only: it ends where the whole song does.
expect 0 "$render" --seek 0.3 "$songs/melodic.mid" "$work/seek.wav"
expect 0 "$render" "$songs/melodic.mid" "$work/whole.wav"
gap=$(($(frames "$work/whole.wav" 44100) - 102863 - $(frames "$work/seek.wav" 44100)))
[ "$gap" -gt -1024 ] && [ "$gap" -lt 1024 ] || fail "seek 0.3: gap $gap"
expect 0 "$render" --mute=16 "$songs/melodic.mid" "$work/mute-16.wav"
cmp -s "$work/whole.wav" "$work/mute-16.wav" || fail "--mute of an unused channel changed the output"

# --loops: a quarter note looped from CC 111 at the top plays twice more, then goes on looping
# through the 8-second fade, at whose end the song stops; 0 is the song as written.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\21\0\260o\0\0\220<d\203`\200<\0\0\377/\0' >"$work/loop.mid"
expect 0 "$render" --dump --loops 2 "$work/loop.mid"
[ "$(grep -c '^ev ' "$work/out")" = 56 ] && grep -qx 'length 418950' "$work/out" &&
  grep -qx 'fade 352800' "$work/out" && grep -qx 'ev 396900 90 60 100' "$work/out" &&
  ! grep -q '^ev 418950' "$work/out" || fail "--dump --loops 2: $(tail -5 "$work/out")"
expect 0 "$render" --dump "$work/loop.mid"
grep -qx 'length 198450' "$work/out" && ! grep -q '^fade' "$work/out" || fail "--dump unlooped"
expect 0 "$render" --loops=2 "$work/loop.mid" "$work/loops.wav"
[ "$(frames "$work/loops.wav" 44100)" = 419840 ] || fail "--loops 2: $(frames "$work/loops.wav" 44100) frames"
[ "$(tail -c 4000 "$work/loops.wav" | tr -d '\0' | wc -c)" = 0 ] || fail "--loops 2 does not end silent"
expect 0 "$render" "$work/loop.mid" "$work/once.wav"
expect 0 "$render" --loops 0 "$work/loop.mid" "$work/loops0.wav"
cmp -s "$work/once.wav" "$work/loops0.wav" || fail "--loops 0 is not the song as written"
expect 0 "$render" --loops 2 "$songs/melodic.mid" "$work/melodic-loops.wav"
cmp -s "$work/whole.wav" "$work/melodic-loops.wav" || fail "--loops changed a song without a loop"
for args in "--loops -1 in.mid out.wav" "--loops 101 in.mid out.wav" "--loops x in.mid out.wav"; do
  expect 1 "$render" $args
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "usage error for '$args' is not one line"
done

# Loudness: one line; --normalize writes as many frames, louder or softer, and --loudness of a
# silent song says -inf. Usage errors above are joined by the ones of the two modes.
expect 0 "$render" --loudness "$songs/melodic.mid"
grep -qxE 'integrated -[0-9]+\.[0-9]{2} LUFS, true peak -?[0-9]+\.[0-9]{2} dBTP' "$work/out" &&
  [ ! -s "$work/err" ] || fail "--loudness: $(cat "$work/out" "$work/err")"
expect 0 "$render" --normalize "$songs/melodic.mid" "$work/level.wav"
[ "$(frames "$work/level.wav" 44100)" = "$(frames "$work/whole.wav" 44100)" ] &&
  ! cmp -s "$work/whole.wav" "$work/level.wav" || fail "--normalize"
expect 0 "$render" --loudness --mute "$(seq -s, 16)" "$songs/melodic.mid"
[ "$(cat "$work/out")" = "integrated -inf LUFS, true peak -inf dBTP" ] || fail "silent: $(cat "$work/out")"
for args in "--loudness" "--loudness a.mid b.mid" "--loudness --normalize a.mid" \
  "--dump --loudness a.mid" "--normalize a.mid"; do
  expect 1 "$render" $args
done
expect 2 "$render" --loudness "$work/bad.mid"

# The desktop entry and the metainfo pass their validators (where installed). VELTA has no public
# homepage yet: appstream 1.0 warns about that (0.16 knows no such check), and only that is let
# through.
if command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null; then
  expect 0 desktop-file-validate "$data/io.github.velta.Velta.desktop"
  [ -s "$work/out" ] && fail "desktop-file-validate: $(cat "$work/out")"
  homepage=()
  appstreamcli --version | grep -q 'version: 0\.' || homepage=(--override=url-homepage-missing=info)
  expect 0 appstreamcli validate --no-net "${homepage[@]}" "$data/io.github.velta.Velta.metainfo.xml"
  grep -qx 'Exec=velta --play %f' "$data/io.github.velta.Velta.desktop" || fail "Exec line"
fi
finish
