#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak memory of one scanned page, the program and its scanner helper together: a
# command-line scan of the test scanner's 200 x 200 mm area in colour, written as PNG, JPEG
# and TIFF, and the same page through the interactive job (bench_pipeline: the page file,
# the temporary copy, the thumbnail, the pane entry), at 600 dpi (the raw page is 4724 x
# 4724 x 3 bytes) and at 75 dpi (what the processes hold without a page worth speaking of).
# The command line codes the page from a small window of rows; the job holds it whole. The processes' proportional set sizes (shared pages,
# such as the page in shared memory that both map, counted once) are summed every few
# milliseconds; the table gives the largest sum, and the 600 dpi peak above the 75 dpi one
# as a multiple of the raw page.
#
#   bash bench/memory.sh              # REPS=3
#   REPS=5 BUILD=/some/build bash bench/memory.sh
set -euo pipefail
export LC_ALL=C

HERE=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
ROOT=$(dirname -- "$HERE")
REPS=${REPS:-3}
DEADLINE=${DEADLINE:-120}
BUILD=${BUILD:-$ROOT/build-bench}
T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-memory.XXXXXX")
trap 'rm -rf -- "$T"' EXIT

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target quillora quillora-scanner bench_pipeline -j2 >/dev/null

mkdir -p "$T/sane" "$T/config"
echo test >"$T/sane/dll.conf"
cp /etc/sane.d/test.conf "$T/sane/test.conf"
printf 'test-picture "Color pattern"\ndepth 8\nbr_x 200.0\nbr_y 200.0\n' >>"$T/sane/test.conf"
export SANE_CONFIG_DIR=$T/sane XDG_CONFIG_HOME=$T/config TMPDIR=$T
unset DISPLAY WAYLAND_DISPLAY
# The bench program lives in bench/, not beside the scanner helper as the program does.
export QUILLORA_SCANNER_HELPER=$BUILD/quillora-scanner

python3 - "$BUILD/quillora" "$BUILD/bench/bench_pipeline" "$T" "$REPS" "$DEADLINE" <<'EOF'
import os, shutil, statistics, subprocess, sys, time
program, job, scratch, reps, deadline = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])

def pss(pid):
    try:
        with open(f'/proc/{pid}/smaps_rollup') as f:
            for line in f:
                if line.startswith('Pss:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0

def tree(root):
    found, todo = [root], [root]
    while todo:
        pid = todo.pop()
        try:
            with open(f'/proc/{pid}/task/{pid}/children') as f:
                kids = [int(k) for k in f.read().split()]
        except OSError:
            kids = []
        found += kids
        todo += kids
    return found

FORMAT_INDEX = {'jpg': 2, 'png': 3, 'tif': 5}   # the wizard's list of formats

def peak(dpi, ext, interactive):
    out = os.path.join(scratch, 'out')
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if interactive:
        command = [job, out, str(dpi), str(FORMAT_INDEX[ext])]
    else:
        command = [program, f'/resolution={dpi}', '/mode=2', f'/ext={ext}', f'/path={out}',
                   '/fname=p']
    p = subprocess.Popen(['timeout', '-k', '5', str(deadline)] + command,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    top = 0
    while p.poll() is None:
        top = max(top, sum(pss(pid) for pid in tree(p.pid) if pid != p.pid))
        time.sleep(0.002)
    return top if p.returncode == 0 else None

raw = 4724 * 4724 * 3 / 1024
print('| scan | format | 75 dpi peak | 600 dpi peak | 600 dpi above 75 dpi / raw page | failed |')
print('|---|---|---|---|---|---|')
for interactive, ext in [(False, 'png'), (False, 'jpg'), (False, 'tif'),
                         (True, 'png'), (True, 'jpg'), (True, 'tif')]:
    what = 'interactive job' if interactive else 'command line'
    small, large, failed = [], [], 0
    for _ in range(reps):
        s, l = peak(75, ext, interactive), peak(600, ext, interactive)
        if s is None or l is None:
            failed += 1
            continue
        small.append(s); large.append(l)
    if not large:
        print(f'| {what} | {ext} | - | - | - | {failed} |')
        continue
    s, l = statistics.median(small), max(large)
    print(f'| {what} | {ext} | {s / 1024:.0f} MiB | {l / 1024:.0f} MiB | {(l - s) / raw:.2f}x | {failed} |')
print(f'\nraw 600 dpi page: {raw / 1024:.1f} MiB')
EOF
