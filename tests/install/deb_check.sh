#!/usr/bin/env bash
# The Debian packages: built with CPack, checked by lintian, then installed into and removed from a dpkg root
# of their own (a fresh dpkg database in a temporary folder; the packages' dependencies are not there, so they
# are checked by name instead of installed, and the maintainer scripts leave a foreign root alone).
# Usage: deb_check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "deb_check: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
client=$(ls "$work"/out/quorin_*.deb) server=$(ls "$work"/out/quorin-server_*.deb)
echo "deb_check: built $(cd "$work/out" && ls -s --block-size=K -- *.deb | tr '\n' ' ')"

# Dependencies: the client's libraries and helpers; the room server without Qt and without a sound server.
client_deps=$(dpkg-deb -f "$client" Depends) server_deps=$(dpkg-deb -f "$server" Depends)
for dep in libqt6widgets6 libavcodec59 libcurl4 libasound2 qt6-qpa-plugins 'pulseaudio | pipewire-pulse'; do
  grep -qF "$dep" <<<"$client_deps" || fail "quorin does not depend on $dep"
done
grep -qw adduser <<<"$server_deps" || fail "quorin-server does not depend on adduser (its postinst needs it)"
if grep -Eq 'qt6|pulseaudio|pipewire' <<<"$server_deps"; then fail "quorin-server depends on Qt or a sound server: $server_deps"; fi
for f in "$client" "$server"; do
  maintainer=$(dpkg-deb -f "$f" Maintainer)
  [[ $maintainer != *example.org* && $maintainer == *@* ]] || fail "$(basename "$f"): maintainer $maintainer"
  [ "$(dpkg-deb -f "$f" Description | wc -l)" -ge 5 ] || fail "$(basename "$f"): no extended description"
done

# lintian: no error and no warning beyond the accepted tags (each with its reason in packaging/).
if ! lintian --fail-on error,warning --suppress-tags-from-file "$src/packaging/lintian-accepted" \
     "$client" "$server" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"; fail "lintian found errors or warnings"
fi
echo "deb_check: lintian: $(grep -c . "$work/lintian.log" || true) notes below warning level"

# Stripped, hardened programs.
dpkg-deb -x "$client" "$work/client"
dpkg-deb -x "$server" "$work/server"
for prog in "$work/client/usr/lib/quorin/quorin" "$work/client/usr/lib/quorin/velmor" \
            "$work/client/usr/lib/quorin/roombot" "$work/server/usr/bin/velmor"; do
  sections=$(readelf -S -W "$prog") dynamic=$(readelf -d "$prog") header=$(readelf -h "$prog")
  symbols=$(readelf --dyn-syms -W "$prog")
  ! grep -Eq '\.(symtab|debug_info)' <<<"$sections" || fail "$prog is not stripped"
  grep -q 'BIND_NOW' <<<"$dynamic" || fail "$prog is not bound at start"
  grep -q 'DYN (Position-Independent Executable' <<<"$header" || fail "$prog is not position-independent"
  grep -q '__[a-z_]*_chk@' <<<"$symbols" || fail "$prog uses no fortified libc call"
done
[ -L "$work/client/usr/lib/quorin/icons" ] || fail "the install folder's icons are not a link to the theme"
[ "$(find "$work/client" -name 'quorin.png' | wc -l)" -eq "$(find "$src/assets/icons" -name 'quorin.png' | wc -l)" ] ||
  fail "icons installed more than once"

# Install both into a scratch root.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --force-depends --force-script-chrootless "$@" >>"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg $*"; }; }
dpkg_root -i "$client" "$server"
for f in usr/bin/quorin usr/bin/roombot usr/bin/velmor usr/lib/quorin/quorin usr/lib/quorin/velmor \
         usr/lib/quorin/installed usr/lib/quorin/Faces/00.gif usr/lib/quorin/icons/hicolor/48x48/apps/quorin.png \
         usr/share/applications/quorin.desktop usr/share/icons/hicolor/256x256/apps/quorin.png \
         usr/share/metainfo/org.quorin.Quorin.metainfo.xml usr/share/man/man1/quorin.1.gz \
         usr/share/man/man1/roombot.1.gz usr/share/man/man1/velmor.1.gz usr/share/doc/quorin/copyright \
         usr/share/doc/quorin-server/changelog.gz lib/systemd/system/quorin-server.service \
         etc/quorin/user.txt etc/quorin/room-server.conf; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
grep -q '^MimeType=x-scheme-handler/quorin;' "$root/usr/share/applications/quorin.desktop"
dpkg --root="$root" -s quorin | grep '^ /etc/quorin/user.txt ' >/dev/null || fail "/etc/quorin/user.txt is not a conffile"
dpkg --root="$root" -s quorin-server | grep '^ /etc/quorin/room-server.conf ' >/dev/null ||
  fail "/etc/quorin/room-server.conf is not a conffile"

# The programs answer --help and --version; the client without opening a window (no display here).
for prog in usr/bin/quorin usr/bin/velmor usr/bin/roombot; do
  name=$(basename "$prog")
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/$prog" --version) || fail "$name --version failed"
  [ "$out" = "$name 1.0.0" ] || fail "$name --version said '$out'"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/$prog" --help | grep "^usage: $name" >/dev/null ||
    fail "$name --help"
done

# The unit as installed, its paths moved into the scratch root.
sed -e "s|^EnvironmentFile=|EnvironmentFile=$root|" -e "s|^ExecStart=/|ExecStart=$root/|" \
  "$root/lib/systemd/system/quorin-server.service" >"$work/quorin-server.service"
grep -q "^ExecStart=$root/usr/bin/velmor --room-server" "$work/quorin-server.service" || fail "unit's ExecStart"
systemd-analyze verify --man=no "$work/quorin-server.service" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; fail "systemd-analyze verify found faults in the unit"; }
if [ "$(grep -cv 'Failed to.*\(bus\|D-Bus\|manager\)' "$work/verify.log")" -ne 0 ]; then
  cat "$work/verify.log"; fail "systemd-analyze verify warned"
fi

# The administrator's site settings survive a reinstall (an upgrade) of the package.
echo '[room]
server=rooms.school.example:6000' >>"$root/etc/quorin/user.txt"
dpkg_root -i "$client"
grep -q '^server=rooms.school.example:6000' "$root/etc/quorin/user.txt" || fail "the site settings were replaced"

# Removed, nothing is left but the conffiles; purged, nothing at all.
dpkg_root -r quorin quorin-server
left=$({ find "$root/usr" "$root/lib" -type f 2>/dev/null || true; } | wc -l)
[ "$left" -eq 0 ] || { find "$root/usr" "$root/lib" -type f; fail "$left files left after removal"; }
[ -f "$root/etc/quorin/user.txt" ] || fail "removal took the site settings"
dpkg_root -P quorin quorin-server
[ ! -e "$root/etc/quorin/user.txt" ] && [ ! -e "$root/etc/quorin/room-server.conf" ] || fail "purge left /etc/quorin"
echo "deb_check: built, checked, installed and removed cleanly: $(basename "$client") $(basename "$server")"
