#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package quillora_<version>_<arch>.deb in build-deb/, with Debian's
# hardening flags and without the tests. Install it with
#   sudo apt-get install ./build-deb/quillora_*.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash packaging/install-deps.sh

# Debian's own compiler and linker flags (stack protector, fortified functions, full
# RELRO with immediate binding); CMake takes CXXFLAGS and LDFLAGS but not CPPFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS

# CMake takes the flags at the first configure only, so the folder starts afresh.
rm -rf build-deb
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-deb -j "$(nproc)"
(cd build-deb && cpack -G DEB)
ls build-deb/quillora_*.deb
