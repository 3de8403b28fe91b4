#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the standard tools the benchmark compares against, beside what the build needs.
# Kept apart from the plain install so that building and testing never pull them in.
set -euo pipefail
exec bash "$(dirname "$0")/../packaging/install-deps.sh" \
  imagemagick img2pdf libtiff-tools sane-utils poppler-utils time tesseract-ocr libjpeg-turbo-progs
