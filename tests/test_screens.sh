#!/bin/bash
# Reference screenshots of the main window under Xvfb, compared pixel for pixel. Only the text
# drawn with the system's fonts (file name, status line) is masked out.
#   test_screens.sh check VELTA ASSET_DIR    compare with tests/screens/*.png
#   test_screens.sh update VELTA ASSET_DIR   take the references again (after artwork changes)
# Exit 77 = skipped (no Xvfb, xdotool or ImageMagick).
mode=${1:?mode}
velta=$(readlink -f "${2:?velta binary}")
assets=$(readlink -f "${3:?asset directory}")
here=$(cd "$(dirname "$0")" && pwd)
refs=$here/screens
. "$here/harness/session.sh"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v compare >/dev/null ||
  { echo "SKIP: Xvfb, xdotool or ImageMagick missing"; exit 77; }
start_display
# No sound server: nothing plays, so every state below is independent of timing.
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run VELTA_RESOURCE_DIR=$assets
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
python3 "$here/support/make_midi.py" "$work" melodic && mv "$work/melodic.mid" "$work/song.mid"

# Window pixels of the file name box and the status panel (skin units x 1.5).
mask() {
  convert "$1" -fill black -draw 'rectangle 93,604 449,631' -draw 'rectangle 459,631 951,671' "$2"
}

# shot NAME ARGS... -- CLICKS...: starts velta with ARGS, clicks at window pixels, screenshots.
shot() {
  local name=$1 win
  shift
  local args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  "$velta" "${args[@]}" >"$work/$name.log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "$name: no window"; app=; return 1; }
  sleep 0.5
  while [ $# -gt 1 ]; do xh_click "$1" "$2"; sleep 0.3; shift 2; done
  xdotool mousemove 955 700 # the pointer stays out of the picture
  sleep 0.5 # a few redraw ticks
  xh_shot "$work/$name.png" "$win"
  kill "$app"; wait "$app" 2>/dev/null; app=
  mask "$work/$name.png" "$work/$name.masked.png"
}

states() {
  shot no-song "$work/absent.mid"
  shot stopped "$work/song.mid"
  # Seek bar middle (skin 180, 433): one half; the first channel's mute button (skin 66, 79).
  shot half-muted "$work/song.mid" -- 270 650 99 118
}

# The references belong to one version of the generated artwork.
artwork_sums() { (cd "$assets" && sha256sum velta236_ui_skin.png velta236_ui_atlas.png); }

case $mode in
update)
  states
  for name in no-song stopped half-muted; do cp "$work/$name.masked.png" "$refs/$name.png"; done
  artwork_sums >"$refs/artwork.sha256"
  echo "references written to $refs"
  ;;
check)
  states
  out=${VELTA_SCREENS_OUT:-/tmp/velta-screens}
  artwork_sums | cmp -s - "$refs/artwork.sha256" ||
    echo "note: the artwork differs from the one the references were taken with"
  for name in no-song stopped half-muted; do
    [ -f "$work/$name.masked.png" ] || continue
    differ=$(compare -metric AE "$refs/$name.png" "$work/$name.masked.png" null: 2>&1)
    if [ "$differ" != 0 ]; then
      mkdir -p "$out"
      cp "$work/$name.masked.png" "$out/$name.png"
      compare "$refs/$name.png" "$work/$name.masked.png" "$out/$name.diff.png" 2>/dev/null
      fail "$name: $differ pixels differ (see $out; after an artwork change run: $0 update ...)"
    fi
  done
  ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
