#!/usr/bin/env bash
# Packs this build as a .deb, installs it with dpkg into a fresh root, and runs the installed
# program there. Arguments: the build folder, the expected version line, the application id.
set -euo pipefail
build=$1 version=$2 id=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
debs=("$work"/out/sombrix_*.deb)
deb=${debs[0]}
name=$(basename "$deb")
[[ $name =~ ^sombrix_[0-9.]+_[a-z0-9]+\.deb$ ]] || { echo "unexpected name $name"; exit 1; }
# The library dependencies were found by dpkg-shlibdeps, not written by hand.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6widgets6 libxcb1 libc6; do
    [[ $depends == *"$library"* ]] || { echo "Depends lacks $library: $depends"; exit 1; }
done

# A fresh root with an empty package database; its dependencies are this machine's.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless \
    --log=/dev/null -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
dpkg --root="$root" -s sombrix | grep -q '^Status: install ok installed'

program=$(dpkg --root="$root" -L sombrix | grep '/bin/sombrix$')
for file in "applications/$id.desktop" "metainfo/$id.metainfo.xml" \
    icons/hicolor/48x48/apps/sombrix.png icons/hicolor/scalable/apps/sombrix.svg \
    icons/hicolor/symbolic/apps/sombrix-dimming-symbolic.svg man/man1/sombrix.1; do
    dpkg --root="$root" -L sombrix | grep -q "/share/$file$" || { echo "missing $file"; exit 1; }
done
# No display is needed to tell the version.
got=$(env -u DISPLAY "$root$program" --version)
[ "$got" = "$version" ] || { echo "--version printed '$got', expected '$version'"; exit 1; }
echo "installed $name and ran: $got"
