#!/bin/bash
# Builds the Debian package: installs the build dependencies named in debian/control, then
# runs dpkg-buildpackage on a copy of the source in build-deb/, where the .deb files end up
# (dpkg-buildpackage writes beside the source directory, so the checkout stays clean).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-deb
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# The packaging tools themselves (not needed for an ordinary build).
tools=(dpkg-dev debhelper devscripts equivs fakeroot lintian)
missing=()
for package in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

rm -rf "$out"
mkdir -p "$out/velta"
# The source without build directories or version control.
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude='./obj-*' --exclude=./out \
  -cf - . | tar -C "$out/velta" -xf -

# mk-build-deps turns the Build-Depends into a dummy package; apt installs what it needs.
(cd "$out" && "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive mk-build-deps --install --remove \
  --tool 'apt-get -y -qq --no-install-recommends' velta/debian/control)
rm -f "$out"/velta-build-deps_*

(cd "$out/velta" && dpkg-buildpackage -us -uc -b -j"$(nproc)")
lintian --fail-on error,warning "$out"/velta_*.changes
echo "Packages in $out:"
ls "$out"/*.deb
