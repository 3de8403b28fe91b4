#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's pictures under Xvfb: the three wizard pages in English and the
# scanner page in Russian, scanning one page from SANE's test scanner.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash packaging/install-deps.sh
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-run -j "$(nproc)" --target quillora_screenshots >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sane" "$work/config/Quillora" "$work/pages" "$work/temp"
echo test > "$work/sane/dll.conf"
cp /etc/sane.d/test.conf "$work/sane/test.conf"
echo 'test-picture "Color pattern"' >> "$work/sane/test.conf"

shoot() { # language, pages
  cat > "$work/config/Quillora/Quillora.conf" <<CONF
[General]
Source=Noname frontend-tester
HideUI=1
Format=3
Resolution=0
Color=2
Path=$work/pages
Lang=$1
CONF
  XDG_CONFIG_HOME="$work/config" SANE_CONFIG_DIR="$work/sane" SANE_DEFAULT_DEVICE=test:0 \
    TEMP="$work/temp" HOME="$work" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24" build-run/packaging/screenshots/quillora_screenshots \
    docs "$2" "$3"
}
shoot English wizard 3
shoot Russian wizard-ru 1
