#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Quillora twice (plain, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test through CTest in both builds; after the
# plain build's tests it checks the install tree and the Debian package
# (packaging/check-install.sh).
# Usage: bash packaging/test.sh            (both builds)
#        QUILLORA_SANITIZE_RUN=0 bash packaging/test.sh   (plain build only)
#        QUILLORA_INSTALL_CHECK=0 bash packaging/test.sh  (without the install checks)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

# Whether every source file must carry its SPDX licence line (packaging/add-spdx.sh adds
# it).
QUILLORA_CHECK_SPDX=${QUILLORA_CHECK_SPDX:-1}
if [ "$QUILLORA_CHECK_SPDX" != 0 ]; then
  bash packaging/add-spdx.sh --check
fi

bash packaging/install-deps.sh

# Tests that need what a developer's machine may lack (a private mount namespace) skip
# there; under CI they fail instead.
export CI=1

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --no-tests=error)
}

echo "== plain build =="
run_suite build-test

if [ "${QUILLORA_INSTALL_CHECK:-1}" != 0 ]; then
  echo "== install tree and Debian package =="
  bash packaging/check-install.sh build-test
fi

if [ "${QUILLORA_SANITIZE_RUN:-1}" != 0 ]; then
  echo "== ASan + UBSan build =="
  # Leaks are not checked: Qt's platform plugins keep process-lifetime caches that
  # LeakSanitizer cannot tell from leaks; memory errors and UB still fail the run.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite build-sanitize -DQUILLORA_SANITIZE=ON
fi
