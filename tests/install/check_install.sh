#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a
# packager see: the files, the desktop entry, the AppStream metainfo, the man
# pages and the programs; then builds the Debian package and inspects it.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" >/dev/null
prefix=$work/usr
expected=(
  bin/kestrove bin/kestrove-names
  share/applications/kestrove.desktop
  share/metainfo/org.kestrove.Kestrove.metainfo.xml
  share/icons/hicolor/16x16/apps/kestrove.png share/icons/hicolor/32x32/apps/kestrove.png
  share/icons/hicolor/48x48/apps/kestrove.png share/icons/hicolor/256x256/apps/kestrove.png
  share/icons/hicolor/scalable/apps/kestrove.svg
  share/man/man1/kestrove.1.gz share/man/man1/kestrove-names.1.gz
  share/doc/kestrove/copyright
)
for f in "${expected[@]}"; do [ -f "$prefix/$f" ] || fail "not installed: $f"; done
for size in 16 32 48 256; do
  file "$prefix/share/icons/hicolor/${size}x${size}/apps/kestrove.png" | grep -q "$size x $size" ||
    fail "icon ${size}x${size} has the wrong size"
done

desktop-file-validate "$prefix/share/applications/kestrove.desktop"
grep -qx 'Categories=Development;Utility;' "$prefix/share/applications/kestrove.desktop" ||
  fail "desktop entry categories"
grep -qx 'MimeType=application/x-msdownload;application/x-dosexec;application/vnd.microsoft.portable-executable;' \
  "$prefix/share/applications/kestrove.desktop" || fail "desktop entry MIME types"
appstreamcli validate --no-net --no-color "$prefix/share/metainfo/org.kestrove.Kestrove.metainfo.xml" >/dev/null ||
  { appstreamcli validate --no-net "$prefix/share/metainfo/org.kestrove.Kestrove.metainfo.xml"; fail "metainfo"; }
for page in kestrove kestrove-names; do
  out=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -ww -Tutf8 2>&1 >/dev/null)
  [ -z "$out" ] || fail "man page $page: $out"
done

"$prefix/bin/kestrove-names" --version | grep -qx 'kestrove-names 1.5' || fail "kestrove-names --version"
# The installed window program starts and keeps running until it is stopped.
status=0
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/kestrove" \
  >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "kestrove ended by itself with status $status"

(cd "$build" && cpack -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
  grep -q "\./usr/$f\$" <<<"$contents" || fail "not in the package: $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins libc6; do
  grep -q "$dep" <<<"$depends" || fail "package does not depend on $dep: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = kestrove ] || fail "package name"
if [ "$(id -u)" -eq 0 ]; then
  dpkg --dry-run -i "$deb" >/dev/null || fail "dpkg would not install the package"
fi
echo "installed files, desktop entry, metainfo, man pages and package: ok"
