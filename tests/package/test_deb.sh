#!/bin/bash
# Installs the built velta package into this system, checks the installed programs, assets,
# window and desktop entry, then removes it and checks that none of its files remain.
# Installs into the system (needs root or sudo), so it is not part of CTest or CI; run it on a
# throwaway machine where velta was never installed:
#   tests/package/test_deb.sh [build-deb/velta_VERSION_ARCH.deb]
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/harness/session.sh"
deb=${1:-$(ls "$here"/../build-deb/velta_*.deb 2>/dev/null | head -1)}
[ -f "$deb" ] || { echo "no package: build it with scripts/package.sh"; exit 2; }
deb=$(readlink -f "$deb")
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt_get() { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@"; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
installed velta && { echo "velta is already installed: this test needs a clean machine"; exit 2; }
tools=()
for pair in Xvfb:xvfb xdotool:xdotool xwininfo:x11-utils import:imagemagick strace:strace \
  desktop-file-validate:desktop-file-utils; do
  command -v "${pair%%:*}" >/dev/null || tools+=("${pair#*:}")
done
[ ${#tools[@]} -eq 0 ] || apt_get install --no-install-recommends "${tools[@]}" >/dev/null

xvfb_pid= app= velta_pid= ours=
cleanup() {
  # strace blocks fatal signals while it traces: end its tracee, then it ends itself.
  [ -n "$velta_pid" ] && kill "$velta_pid" 2>/dev/null
  [ -n "$app" ] && wait "$app" 2>/dev/null
  [ -n "$xvfb_pid" ] && "$here/harness/xvfb-session.sh" stop "$xvfb_pid"
  # Never leave the package behind, whatever failed.
  [ -n "$ours" ] && installed velta && apt_get remove velta >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# apt resolves the package's dependencies from the archive.
expect 0 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"
installed velta || { fail "apt install: $(cat "$work/err")"; finish; }
ours=1
dpkg -L velta | sort >"$work/list"
version=$(dpkg-query -W -f='${Version}' velta)

# Programs from /usr/bin, found on the PATH.
[ "$(command -v velta)" = /usr/bin/velta ] && [ "$(command -v velta-render)" = /usr/bin/velta-render ] ||
  fail "programs not in /usr/bin"
expect 0 velta --version
[ "$(cat "$work/out")" = "velta ${version%%-*}" ] || fail "velta --version: $(cat "$work/out")"
expect 0 velta-render --help
grep -q '^Usage: velta-render' "$work/out" || fail "velta-render --help: $(head -3 "$work/out")"
for name in velta236_ui_skin.png velta236_ui_atlas.png final-bowser.mid; do
  grep -qx "/usr/share/velta/$name" "$work/list" || fail "/usr/share/velta/$name not packaged"
done
for page in velta velta-render; do
  grep -qx "/usr/share/man/man1/$page.1.gz" "$work/list" || fail "no manual page for $page"
done
expect 0 velta-render --dump /usr/share/velta/final-bowser.mid
grep -q '^events [1-9]' "$work/out" || fail "the installed demo song does not load"

# The installed window: started by name from an empty directory with private settings, so the
# assets can only come from /usr/share/velta; strace shows which files it opened.
eval "$("$here/harness/xvfb-session.sh" start)" || { fail "Xvfb did not start"; finish; }
xvfb_pid=$XVFB_PID
. "$here/harness/x11-helpers.sh"
mkdir -p "$work/empty" "$work/config"
(
  cd "$work/empty" && unset VELTA_RESOURCE_DIR &&
    XDG_CONFIG_HOME=$work/config exec strace -f -qq -e trace=openat -e status=successful \
      -o "$work/trace" velta
) >"$work/window.log" 2>&1 &
app=$!
# The window belongs to strace's child: search by title (the display is private).
win=
for _ in $(seq 1000); do
  [ -n "$velta_pid" ] || velta_pid=$(pgrep -P "$app" -x velta)
  win=$(xdotool search --onlyvisible --name '^VELTA$' 2>/dev/null | head -1)
  [ -n "$win" ] || ! kill -0 "$app" 2>/dev/null && break
  sleep 0.02
done
if [ -n "$win" ]; then
  [ "$(xh_geometry "$win")" = 960x705+0+0 ] || fail "window geometry $(xh_geometry "$win")"
  sleep 1 # a few redraw ticks
  # The drawn window is the installed skin scaled to 960x705, apart from what is drawn on it.
  xh_shot "$work/screen.png"
  convert "$work/screen.png" -crop 960x705+0+0 +repage "$work/window.png"
  convert /usr/share/velta/velta236_ui_skin.png -filter point -resize '960x705!' "$work/skin.png"
  differing=$(compare -metric AE -fuzz 5% "$work/window.png" "$work/skin.png" null: 2>&1)
  [ "${differing%.*}" -lt $((960 * 705 / 10)) ] 2>/dev/null ||
    fail "the window does not show the installed skin ($differing pixels differ)"
else
  fail "no window: $(head -5 "$work/window.log")"
fi
# Closing by the window's button is tested in tests/test_cli.sh; here it just ends.
[ -n "$velta_pid" ] && kill "$velta_pid" 2>/dev/null
wait "$app" 2>/dev/null
app= velta_pid=
for name in velta236_ui_skin.png velta236_ui_atlas.png final-bowser.mid; do
  path=$(grep -o "\"[^\"]*/$name\"" "$work/trace" | tr -d '"' | head -1)
  [ -n "$path" ] && [ "$(readlink -f "$path")" = "/usr/share/velta/$name" ] ||
    fail "velta did not open /usr/share/velta/$name (opened: ${path:-nothing})"
done
grep -v -e '^+++ killed' -e '^--- SIG' "$work/window.log" | grep -q . &&
  fail "velta printed: $(head -5 "$work/window.log")"

# Desktop entry, once the install rules provide one; its icon must be installed with it.
desktop=$(grep -E '^/usr/share/applications/[^/]+\.desktop$' "$work/list")
if [ -z "$desktop" ]; then
  echo "SKIP: the package has no desktop file"
else
  for file in $desktop; do
    expect 0 desktop-file-validate "$file"
    [ -s "$work/out" ] && fail "desktop-file-validate $file: $(cat "$work/out")"
    icon=$(sed -n 's/^Icon=//p' "$file" | head -1)
    [ -z "$icon" ] || grep -qE "^/usr/share/(icons/hicolor/[^/]+/apps|pixmaps)/$icon\.(png|svg|xpm)$" \
      "$work/list" || fail "icon $icon of $file is not in the package"
  done
fi

# Removal leaves no file of the package, and no directory that only the package used.
expect 0 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq velta
installed velta && fail "velta is still installed"
while read -r path; do
  [ "$path" = /. ] && continue
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg-query -S "$path" >/dev/null 2>&1 || fail "directory left behind: $path"
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "file left behind: $path"
  fi
done <"$work/list"
ours=
finish
