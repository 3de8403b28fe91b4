#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks what a distribution ships, from a configured and built build folder: the install
# tree in a DESTDIR with its desktop entry, AppStream metainfo and icons, a command-line
# scan by the installed program from SANE's test scanner, its wizard started offscreen, and the Debian package with its
# computed dependencies and lintian's verdict. Every step runs under a deadline.
#
#   bash packaging/check-install.sh <build folder>
#   QUILLORA_INSTALL_PACKAGE=1 bash packaging/check-install.sh <build folder>
#       also installs the package on this machine with apt-get, scans with the installed
#       /usr/bin/quillora and removes the package again (needs root; for a throw-away machine)
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh <build folder>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "check-install: $*" >&2; exit 1; }

# The PNG's width and height, from its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'; }

# One command-line scan from the test scanner by the program at $1, into a fresh folder.
scan_with() {
  local program=$1 run=$work/run-$RANDOM
  mkdir -p "$run/sane" "$run/home" "$run/tmp" "$run/out" "$run/xdg"
  chmod 700 "$run/xdg"
  echo test > "$run/sane/dll.conf"
  if [ -r /etc/sane.d/test.conf ]; then cp /etc/sane.d/test.conf "$run/sane/"; fi
  HOME=$run/home XDG_CONFIG_HOME=$run/home/.config XDG_RUNTIME_DIR=$run/xdg \
    TEMP=$run/tmp TMPDIR=$run/tmp \
    SANE_CONFIG_DIR=$run/sane SANE_DEFAULT_DEVICE=test:0 QT_QPA_PLATFORM=offscreen \
    timeout 120 "$program" /resolution=75 /mode=2 /ext=png "/path=$run/out" /fname=p \
    || fail "the command-line scan by $program failed (exit code $?)"
  local pages=("$run"/out/p*.png)
  [ -f "${pages[0]}" ] || fail "the scan by $program wrote no page"
  [ "$(od -An -c -j1 -N3 "${pages[0]}" | tr -d ' ')" = PNG ] || fail "${pages[0]} is no PNG file"
  echo "scanned ${pages[0]##*/} ($(png_size "${pages[0]}")) with $program"
}

# The wizard, started by the program at $1 without a display (offscreen), drawn once.
wizard_with() {
  local program=$1 run=$work/wizard-$RANDOM
  mkdir -p "$run/sane" "$run/home" "$run/tmp" "$run/xdg"
  chmod 700 "$run/xdg"
  echo test > "$run/sane/dll.conf"
  HOME=$run/home XDG_CONFIG_HOME=$run/home/.config XDG_RUNTIME_DIR=$run/xdg \
    TEMP=$run/tmp TMPDIR=$run/tmp SANE_CONFIG_DIR=$run/sane QT_QPA_PLATFORM=offscreen \
    QUILLORA_SCREENSHOT=$run/wizard.png timeout 120 "$program" \
    || fail "the wizard started by $program failed (exit code $?)"
  [ -s "$run/wizard.png" ] || fail "the wizard started by $program drew nothing"
  echo "drew the wizard ($(png_size "$run/wizard.png")) started by $program"
}

echo "-- install into a DESTDIR"
dest=$work/dest
DESTDIR=$dest timeout 120 cmake --install "$build" --prefix /usr >/dev/null
desktop_files=("$dest"/usr/share/applications/*.desktop)
[ ${#desktop_files[@]} -eq 1 ] && [ -f "${desktop_files[0]}" ] || fail "expected one desktop entry"
id=$(basename "${desktop_files[0]}" .desktop)
for f in bin/quillora share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg \
         share/man/man1/quillora.1.gz share/doc/quillora/copyright; do
  [ -s "$dest/usr/$f" ] || fail "usr/$f is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$dest/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "$icon is $(png_size "$icon")"
done
if grep -q quillora-scanner "$build/packaging/cmake_install.cmake"; then
  [ -x "$dest/usr/libexec/quillora/quillora-scanner" ] || fail "the scanner helper is not installed"
fi
for program in quillora-cli quillora-wizard; do
  [ -x "$dest/usr/libexec/quillora/$program" ] || fail "$program is not installed"
done
# The wizard names the same desktop entry, so shells give its window the icon.
strings -el "$dest/usr/libexec/quillora/quillora-wizard" | grep -xF "$id" >/dev/null \
  || fail "the wizard does not carry the id $id"
grep -qx "Exec=quillora" "${desktop_files[0]}" || fail "the desktop entry does not start quillora"

echo "-- desktop entry and AppStream metainfo ($id)"
timeout 60 desktop-file-validate "${desktop_files[0]}"
timeout 60 appstreamcli validate --no-net --no-color "$dest/usr/share/metainfo/$id.metainfo.xml"

echo "-- a command-line scan and the wizard by the installed program"
scan_with "$dest/usr/bin/quillora"
wizard_with "$dest/usr/bin/quillora"

echo "-- the Debian package"
(cd "$build" && timeout 300 cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack failed"
debs=("$work"/package/quillora_*.deb)
[ -f "${debs[0]}" ] || fail "cpack wrote no package"
deb=${debs[0]}
echo "built ${deb##*/}"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Computed from the libraries by dpkg-shlibdeps, not written by hand.
grep -q 'libqt6widgets6' <<<"$depends" || fail "the dependencies were not computed from the libraries"
# Errors fail the check; warnings are listed (the README says why each stays).
timeout 600 lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors in ${deb##*/}"

if [ "${QUILLORA_INSTALL_PACKAGE:-0}" = 1 ]; then
  echo "-- apt-get install of the package"
  export DEBIAN_FRONTEND=noninteractive
  timeout 600 apt-get install -y -qq "$deb" >/dev/null
  trap 'timeout 300 apt-get remove -y -qq quillora >/dev/null; rm -rf "$work"' EXIT
  scan_with /usr/bin/quillora
  wizard_with /usr/bin/quillora
fi
echo "-- install checks passed"
