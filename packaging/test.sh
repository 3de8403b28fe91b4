#!/usr/bin/env bash
# Installs what is missing, builds Quillora twice (plain, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test through CTest in both builds.
# Usage: bash packaging/test.sh            (both builds)
#        QUILLORA_SANITIZE_RUN=0 bash packaging/test.sh   (plain build only)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

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

if [ "${QUILLORA_SANITIZE_RUN:-1}" != 0 ]; then
  echo "== ASan + UBSan build =="
  # Leaks are not checked: Qt's platform plugins keep process-lifetime caches that
  # LeakSanitizer cannot tell from leaks; memory errors and UB still fail the run.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite build-sanitize -DQUILLORA_SANITIZE=ON
fi
