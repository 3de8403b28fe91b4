#!/usr/bin/env bash
# Installs the standard tools the benchmark compares against. Kept apart from
# packaging/install-deps.sh so that building and testing never pull them in.
set -euo pipefail

PKGS=(imagemagick img2pdf libtiff-tools sane-utils poppler-utils time)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
