#!/bin/bash
# Runs the README's test command on Debian 13 from a Debian 12 machine, as a user would get it:
# a clean clone of this checkout's HEAD in a fresh Debian 13 root, where ./scripts/test.sh
# installs its packages and runs all four stages; then ./scripts/package.sh builds the Debian
# package and runs lintian on it. Run by hand, as root (debootstrap, chroot, bind mounts).
#   scripts/test-debian13.sh [--cache DIR] [--no-package] [--refresh] [--shell]
#     --cache DIR   where the Debian 13 root and the downloaded packages are kept
#                   (default /var/cache/velta-debian13)
#     --no-package  tests only
#     --refresh     make the Debian 13 root again (otherwise it is made once and reused)
#     --shell       a shell in the prepared root instead of the tests (mounts as for the tests)
# Each run starts from a copy of the pristine root (DIR/base) in DIR/run, which stays for a look
# afterwards and is replaced by the next run; downloaded packages are kept in DIR/archives.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=/var/cache/velta-debian13 package=1 refresh=0 shell=0
while [ $# -gt 0 ]; do
  case $1 in
  --cache) cache=${2:?--cache DIR}; shift ;;
  --no-package) package=0 ;;
  --refresh) refresh=1 ;;
  --shell) shell=1 ;;
  *) echo "usage: $0 [--cache DIR] [--no-package] [--refresh] [--shell]" >&2; exit 2 ;;
  esac
  shift
done
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
base=$cache/base run=$cache/run
# One run per cache at a time: each replaces the last one's root.
exec 9>"$cache/lock"
flock -n 9 || { echo "$0: another run is using $cache; waiting for it" >&2; flock 9; }
started=$(date +%s)

mounted=()
# Anything the tests left running inside the root, then the mounts, innermost first.
cleanup() {
  local proc i
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$run" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
      echo "$0: could not unmount ${mounted[i]}" >&2
  done
  mounted=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mounts_below() { awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 { print $5 }' /proc/self/mountinfo; }
# remove DIR: only when nothing is mounted below it, and never across file systems.
remove() {
  [ -e "$1" ] || return 0
  [ -z "$(mounts_below "$1")" ] || { echo "$0: still mounted below $1: $(mounts_below "$1")" >&2; exit 1; }
  rm -rf --one-file-system "$1"
}
bind() { # SOURCE TARGET [mount options...]
  mkdir -p "$2"
  mount "${@:3}" "$1" "$2"
  mounted+=("$2")
}

# The pristine root, made once.
if [ "$refresh" = 1 ] || [ ! -x "$base/bin/bash" ]; then
  command -v debootstrap >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap; }
  remove "$base.partial"
  debootstrap --variant=minbase --include=ca-certificates,git trixie "$base.partial" \
    http://deb.debian.org/debian
  # The updates and security suites too, as an installed system has them.
  rm "$base.partial/etc/apt/sources.list"
  for suite in "debian trixie trixie-updates" "debian-security trixie-security"; do
    set -- $suite
    printf 'Types: deb\nURIs: http://deb.debian.org/%s\nSuites: %s\nComponents: main\n%s\n\n' \
      "$1" "${*:2}" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  done >"$base.partial/etc/apt/sources.list.d/debian.sources"
  remove "$base"
  mv "$base.partial" "$base"
fi
grep -q '^VERSION_ID="13"' "$base/etc/os-release" || { echo "$0: $base is not Debian 13" >&2; exit 1; }

# This run's root: a copy of the pristine one, the checkout's committed state cloned into it.
remove "$run"
cp -a "$base" "$run"
cp /etc/resolv.conf "$run/etc/resolv.conf"
head=$(git -C "$repo" rev-parse HEAD)
[ -z "$(git -C "$repo" status --porcelain)" ] ||
  echo "$0: uncommitted changes are not tested: only commit $head is" >&2
git clone -q --no-hardlinks "$repo" "$run/root/velta"
git -C "$run/root/velta" checkout -q --detach "$head"
# The shared MIDI corpus, where the checkout has one beside it (tests skip without it).
[ -d "$repo/../shared/corpus" ] && mkdir -p "$run/root/shared" &&
  cp -a "$repo/../shared/corpus" "$run/root/shared/"

mkdir -p "$cache/archives/partial"
bind proc "$run/proc" -t proc
bind /sys "$run/sys" --bind
bind /dev "$run/dev" --bind
bind /dev/pts "$run/dev/pts" --bind
bind /dev/shm "$run/dev/shm" --bind
bind "$cache/archives" "$run/var/cache/apt/archives" --bind

in_root() {
  env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM="${TERM:-dumb}" chroot "$run" "$@"
}
if [ "$shell" = 1 ]; then
  in_root bash -c 'cd /root/velta && exec bash -i'
  exit
fi
status=0
in_root bash -c 'cd /root/velta && ./scripts/test.sh' || status=$?
tested=$(date +%s)
echo "Debian 13: ./scripts/test.sh exit $status after $(((tested - started) / 60)) min $(((tested - started) % 60)) s"
if [ "$status" = 0 ] && [ "$package" = 1 ]; then
  in_root bash -c 'cd /root/velta && ./scripts/package.sh' || status=$?
  echo "Debian 13: ./scripts/package.sh exit $status after $(($(date +%s) - tested)) s"
fi
exit "$status"
