#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Quillora and starts it with SANE's `test` scanner
# available beside the machine's real scanners, so it works without hardware.
#
#   bash packaging/run.sh                      the wizard (needs a display)
#   bash packaging/run.sh /resolution=150 /mode=2 /ext=png /path="$HOME/Scans" /fname=Page
#                                              one page scanned from the command line
#
# Without a display and without options, a demonstration command-line scan is made from
# the test scanner into ~/Quillora-scans.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash packaging/install-deps.sh
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-run -j "$(nproc)" --target quillora >/dev/null

# SANE reads its configuration from SANE_CONFIG_DIR; a trailing colon appends the
# system folders, so every other backend keeps its own settings. Our dll.conf is the
# system's list plus `test`.
sane_dir="${XDG_CACHE_HOME:-$HOME/.cache}/quillora/sane"
mkdir -p "$sane_dir"
{ [ -r /etc/sane.d/dll.conf ] && grep -v '^[[:space:]]*#\?[[:space:]]*test[[:space:]]*$' /etc/sane.d/dll.conf; echo test; } > "$sane_dir/dll.conf"
if [ -r /etc/sane.d/test.conf ]; then cp /etc/sane.d/test.conf "$sane_dir/test.conf"; fi
export SANE_CONFIG_DIR="$sane_dir:"

args=("$@")
if [ ${#args[@]} -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  out="$HOME/Quillora-scans"
  mkdir -p "$out"
  echo "No display: scanning one demonstration page from the test scanner into $out" >&2
  export SANE_DEFAULT_DEVICE=test:0
  args=(/resolution=150 /mode=2 /ext=png "/path=$out" /fname=Page)
fi

exec build-run/quillora "${args[@]}"
