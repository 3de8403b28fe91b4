#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package Quillora needs to build, run and test.
# Does nothing (and needs no network) when they are all present already.
set -euo pipefail

PKGS=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libqt6network6 libgl-dev
  qt6-svg-dev
  libsane-dev libsane1 sane-utils
  libtiff-dev libtiff-tools
  libgif-dev
  libjpeg-dev libturbojpeg0-dev
  zlib1g-dev
  libtesseract-dev tesseract-ocr-eng tesseract-ocr-rus tesseract-ocr-deu
  libgtest-dev googletest
  xvfb xauth
  poppler-utils qpdf
  fonts-dejavu-core
  dpkg-dev desktop-file-utils appstream lintian
)
# Further packages a caller needs (the benchmark's tools) may be named as arguments.
PKGS+=("$@")

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
