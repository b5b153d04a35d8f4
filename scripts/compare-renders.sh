#!/bin/bash
# usage: compare-renders.sh REV_A REV_B
#
# Builds velta-render at two revisions, renders the golden songs with both at 22050, 44100 and
# 48000 Hz, from the start and after a seek, and reports each WAV as identical or where it
# first differs. The songs are the test songs of tests/support/make_songs and the benchmark's
# stress, dense, wave-upload and held songs, written by REV_A's generators so that both
# revisions play the same files.
# Exit status: 0 all identical, 1 some differ, 2 a build or a render failed.
# VELTA_JOBS sets the build's parallel jobs (default 2). Everything lives in a temporary
# folder, its worktrees removed on exit.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 REV_A REV_B" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VELTA_JOBS:-2}
rev_a=$(git -C "$root" rev-parse --verify "$1^{commit}") || exit 2
rev_b=$(git -C "$root" rev-parse --verify "$2^{commit}") || exit 2
seek=0.37
wav_header=44

tmp=$(mktemp -d)
worktrees=()
cleanup() {
    for tree in "${worktrees[@]}"; do
        git -C "$root" worktree remove --force "$tree" >/dev/null 2>&1 || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# build NAME REV TARGET...: a detached worktree of REV and a Release build of the targets.
build() {
    local name=$1 rev=$2
    shift 2
    git -C "$root" worktree add --detach --quiet "$tmp/$name" "$rev"
    worktrees+=("$tmp/$name")
    echo "building $name ($(git -C "$root" log -1 --format='%h %s' "$rev"))" >&2
    if ! cmake -S "$tmp/$name" -B "$tmp/$name/build" -DCMAKE_BUILD_TYPE=Release \
        -DVELTA_BUILD_TESTS=ON >"$tmp/$name.log" 2>&1 ||
        ! cmake --build "$tmp/$name/build" -j"$jobs" --target "$@" >>"$tmp/$name.log" 2>&1; then
        tail -20 "$tmp/$name.log" >&2
        echo "$0: the build of $name failed" >&2
        exit 2
    fi
}

build a "$rev_a" velta-render make_songs bench_engine
if [ "$rev_b" = "$rev_a" ]; then
    render_b=$tmp/a/build/bin/velta-render
else
    build b "$rev_b" velta-render
    render_b=$tmp/b/build/bin/velta-render
fi
render_a=$tmp/a/build/bin/velta-render

songs=$tmp/songs
mkdir -p "$songs" "$tmp/out"
"$tmp/a/build/tests/make_songs" "$songs"
"$tmp/a/build/bench/bench_engine" --write-stress "$songs/stress.mid" \
    --write-dense "$songs/dense.mid" --write-waves "$songs/upload.mid" \
    --write-held "$songs/held.mid"

differ=0
for song in "$songs"/*.mid; do
    for rate in 22050 44100 48000; do
        for start in start seek; do
            options=(--rate "$rate")
            [ "$start" = seek ] && options+=(--seek "$seek")
            label="$(basename "$song" .mid) $rate Hz, from the start"
            [ "$start" = seek ] && label="$(basename "$song" .mid) $rate Hz, seek $seek"
            a=$tmp/out/a.wav b=$tmp/out/b.wav
            if ! "$render_a" "${options[@]}" "$song" "$a" ||
                ! "$render_b" "${options[@]}" "$song" "$b"; then
                echo "$label: velta-render failed" >&2
                exit 2
            fi
            frames_a=$((($(stat -c %s "$a") - wav_header) / 4))
            frames_b=$((($(stat -c %s "$b") - wav_header) / 4))
            if cmp -s "$a" "$b"; then
                echo "$label: identical ($frames_a frames)"
                continue
            fi
            differ=1
            # The PCM after the headers: "differ: byte N, line M" or "EOF on FILE after byte N".
            report=$(cmp -i "$wav_header" "$a" "$b" 2>&1 || true)
            if [[ $report =~ differ:\ (char|byte)\ ([0-9]+) ]]; then
                frame=$(((BASH_REMATCH[2] - 1) / 4))
                where=$(awk -v f="$frame" -v r="$rate" 'BEGIN {
                    printf "first at frame %d (%.3f s, second %d)", f, f / r, int(f / r) }')
            elif [[ $report == *EOF* ]]; then
                where="the same samples as far as the shorter goes"
            else
                where="only in the WAV header"
            fi
            lengths="both $frames_a frames"
            [ "$frames_a" = "$frames_b" ] || lengths="$frames_a frames against $frames_b"
            echo "$label: DIFFERS, $where; $lengths"
        done
    done
done
exit "$differ"
