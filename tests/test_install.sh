#!/bin/bash
# Desktop integration and installation.
#   test_install.sh metadata DATA_DIR   the .desktop and metainfo files pass their validators
#   test_install.sh install BUILD_DIR   cmake --install into a temporary prefix; the installed
#                                       velta, started from another directory, finds its assets
# Exit 77 = skipped.
mode=${1:?mode}
target=$(readlink -f "${2:?directory}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
readonly app_id=io.github.velta.Velta

metadata() {
  command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null ||
    { echo "SKIP: desktop-file-validate or appstreamcli missing"; exit 77; }
  expect 0 desktop-file-validate "$target/$app_id.desktop"
  [ -s "$work/out" ] && fail "desktop-file-validate: $(cat "$work/out")"
  expect 0 appstreamcli validate --no-net "$target/$app_id.metainfo.xml"
  grep -q '^Exec=velta --play %f$' "$target/$app_id.desktop" || fail "Exec line"
  grep -q '^MimeType=audio/midi;audio/x-midi;$' "$target/$app_id.desktop" || fail "MimeType line"
}


install_and_run() {
  trap cleanup EXIT
  local prefix=$work/prefix
  expect 0 cmake --install "$target" --prefix "$prefix"
  for file in bin/velta bin/velta-render share/velta/velta236_ui_skin.png \
    share/velta/velta236_ui_atlas.png share/velta/final-bowser.mid \
    share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$app_id.svg; do
    [ -s "$prefix/$file" ] || fail "not installed: $file"
  done
  [ -x "$prefix/bin/velta" ] || { finish; }

  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null ||
    { echo "SKIP: Xvfb, xdotool or ImageMagick missing"; exit 77; }
  for system_dir in /usr/share/velta /usr/local/share/velta; do
    [ -r "$system_dir/velta236_ui_skin.png" ] && { echo "SKIP: a skin is installed in $system_dir"; exit 77; }
  done
  start_display
  export XDG_CONFIG_HOME=$work/config
  unset VELTA_RESOURCE_DIR
  # From a directory with no relative resource candidate: only the one beside the program can win.
  mkdir -p "$work/elsewhere" && cd "$work/elsewhere" || exit 1
  "$prefix/bin/velta" >"$work/velta.log" 2>&1 &
  app=$!
  local win
  win=$(xh_wait_window "$app" 20) || { fail "no window: $(cat "$work/velta.log")"; finish; }
  # A point of the skin away from anything the program paints over it, at scale 1.5.
  local want
  want=$(xh_pixel "$prefix/share/velta/velta236_ui_skin.png" 405 378)
  xh_wait_pixel 608 568 "$want" 5 || fail "the installed skin is not shown"
}

case $mode in
metadata) metadata ;;
install) install_and_run ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
