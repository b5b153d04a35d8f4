#!/bin/bash
# Runs the real velta-render: command line, --dump output and exit statuses.
# Usage: reader_cli.sh PATH/TO/velta-render
set -u
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect STATUS COMMAND...: runs the command, output in $work/out and $work/err.
expect() {
  local want=$1
  shift
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "exit $got, wanted $want: $* ($(head -c 200 "$work/err"))"
}

# One note at tick 480, 480 ticks per quarter, a SysEx at tick 0, then End of Track.
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\17\0\360\3\176\11\367\203\140\220\74\144\0\377\57\0' \
  >"$work/one.mid"

expect 0 "$render" --dump "$work/one.mid"
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

# --opt=value form and options after the file name give the same output.
expect 0 "$render" --dump "$work/one.mid" --rate=48000
grep -qx 'ev 24000 90 60 100' "$work/out" || fail "--rate=48000 after the file"
grep -qx 'rate 48000' "$work/out" || fail "rate line at 48000"
"$render" --rate 48000 --dump "$work/one.mid" | cmp -s - "$work/out" || fail "--rate 48000 form"

expect 0 "$render" --dump -- "$work/one.mid"
cmp -s "$work/out" "$work/want" || fail "-- before the file name"

expect 0 "$render" --help
grep -q -- '--max-seconds' "$work/out" || fail "--help does not explain --max-seconds"
[ -s "$work/err" ] && fail "--help wrote to stderr"

# Usage errors: one line on stderr, exit 1.
for args in "--bogus x.mid" "--dump" "--dump a.mid b.mid" "in.mid" "a b c" \
  "--rate 0 --dump x.mid" "--rate 384001 --dump x.mid" "--rate=12k --dump x.mid" \
  "--dump x.mid --rate" "--set 10 in.mid out.wav" "--set Famicom in.mid out.wav" \
  "--block 0 in.mid out.wav" "--block 65537 in.mid out.wav" "--seek nan in.mid out.wav" \
  "--max-seconds -1 in.mid out.wav" "--max-seconds inf in.mid out.wav" \
  "--dump --set 1 x.mid" "--dump=1 x.mid"; do
  # shellcheck disable=SC2086
  expect 1 "$render" $args
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "usage error for '$args' is not one line"
done
# Every valid form passes the command line (the file does not exist: load failure, exit 2).
expect 2 "$render" --set "Famicom like Set" --block=65536 --seek -0.5 --max-seconds 0 \
  "$work/missing.mid" "$work/out.wav"
expect 2 "$render" --dump "$work/missing.mid"
grep -qx 'velta-render: Could not open MIDI file.' "$work/err" || fail "load failure text"
expect 2 "$render" --dump "$work"
expect 2 "$render" --dump /dev/null

# The output cannot be written: exit 3.
if [ -w /dev/full ]; then
  "$render" --dump "$work/one.mid" >/dev/full 2>/dev/null
  [ $? -eq 3 ] || fail "dump to /dev/full"
fi

# A file bigger than any memory: the buffer cannot be allocated (a sparse file, if the file
# system allows one that large).
sparse=
for size in 1P 15T 8T; do
  truncate -s "$size" "$work/huge.mid" 2>/dev/null && sparse=yes && break
done
if [ -n "$sparse" ]; then
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1" \
    expect 2 "$render" --dump "$work/huge.mid"
  grep -qx 'velta-render: Out of memory loading MIDI.' "$work/err" ||
    fail "huge file: $(cat "$work/err")"
fi

[ "$failures" -eq 0 ] && echo "all velta-render checks passed"
exit $((failures != 0))
