#!/usr/bin/env bash
# The Debian package: built with CPack, then installed into and removed from a dpkg root of its own (a fresh
# dpkg database in a temporary folder; the package's dependencies are not there, so they are checked by name
# instead of installed). Usage: deb_check.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/quorin_*.deb)
info=$(dpkg-deb -I "$deb")
for dep in libqt6widgets6 libavcodec59 libcurl4 libasound2 qt6-qpa-plugins; do
  grep -q "Depends:.*$dep" <<<"$info" || { echo "deb_check: $dep missing from Depends"; exit 1; }
done
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; exit 1; }
for f in usr/bin/quorin usr/lib/quorin/quorin usr/lib/quorin/velmor usr/lib/quorin/installed \
         usr/lib/quorin/Faces/00.gif usr/share/applications/quorin.desktop \
         usr/share/icons/hicolor/256x256/apps/quorin.png usr/share/metainfo/org.quorin.Quorin.metainfo.xml; do
  [ -e "$root/$f" ] || { echo "deb_check: $f not installed"; exit 1; }
done
grep -q '^MimeType=x-scheme-handler/quorin;' "$root/usr/share/applications/quorin.desktop"
dpkg --root="$root" --force-script-chrootless -r quorin >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
left=0
[ -d "$root/usr" ] && left=$(find "$root/usr" -type f | wc -l)
[ "$left" -eq 0 ] || { echo "deb_check: $left files left after removal"; find "$root/usr" -type f; exit 1; }
echo "deb_check: built, installed and removed cleanly: $(basename "$deb")"
