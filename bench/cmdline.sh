#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The quillora executable itself, started as a user starts a command-line scan (no display),
# against scanimage writing the same format: one 300 dpi colour page of the test scanner's
# 200 x 200 mm area as PNG, JPEG and TIFF (the command line's TIFF files are LZW: against
# scanimage's uncompressed TIFF, and against that followed by tiffcp -c lzw); then ten feeder
# pages, quillora --batch /adf writing LZW TIFF against scanimage --batch writing uncompressed
# TIFF.
#
#   bash bench/cmdline.sh              # REPS=7
#   REPS=9 BUILD=/some/build bash bench/cmdline.sh
#
# Builds quillora and its scanner helper in $BUILD (default build-bench, Release, no
# tests). Every run is under `timeout` (DEADLINE seconds), so a hang is a failed row, not a
# stuck script. Runs are interleaved (rep 1 of every case, then rep 2, ...); the table gives
# medians of wall-clock and CPU (user + system, children included) and the largest peak
# RSS of one process; the last column is quillora's wall time over the standard tools', the
# median of the ratios rep by rep.
set -euo pipefail
export LC_ALL=C

HERE=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
ROOT=$(dirname -- "$HERE")
REPS=${REPS:-7}
DEADLINE=${DEADLINE:-60}
BUILD=${BUILD:-$ROOT/build-bench}
T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-cmdline.XXXXXX")
trap 'rm -rf -- "$T"' EXIT

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target quillora quillora-scanner -j2 >/dev/null
Q=$BUILD/quillora

mkdir -p "$T/sane" "$T/config/Quillora"
echo test >"$T/sane/dll.conf"
cp /etc/sane.d/test.conf "$T/sane/test.conf"
printf 'test-picture "Color pattern"\ndepth 8\nbr_x 200.0\nbr_y 200.0\n' >>"$T/sane/test.conf"
export SANE_CONFIG_DIR=$T/sane XDG_CONFIG_HOME=$T/config
unset DISPLAY WAYLAND_DISPLAY
# The command line takes nothing of the stored format settings (JPEG quality 75, TIFF files
# LZW), but it writes back what the wizard stores when it closes: one scan, not measured,
# stores that, as on a machine where scans have run before.
mkdir -p "$T/warm"
timeout -k 5 "$DEADLINE" "$Q" /resolution=300 /mode=2 /ext=png /path="$T/warm" /fname=p >/dev/null 2>&1 || true

RAW=$T/raw.tsv; : >"$RAW"
FAILS=$T/fails.txt; : >"$FAILS"
# sample CASE REP cmd...: wall seconds, CPU seconds, peak RSS (KiB), exit status
sample() {
  local case=$1 rep=$2; shift 2
  local t0 t1 rc=0 rss=0 user=0 sys=0
  t0=$EPOCHREALTIME
  /usr/bin/time -o "$T/time.txt" -f '%M %U %S' timeout -k 5 "$DEADLINE" "$@" \
    >/dev/null 2>"$T/err.txt" || rc=$?
  t1=$EPOCHREALTIME
  if [[ -s $T/time.txt ]]; then read -r rss user sys < <(tail -n 1 "$T/time.txt"); fi
  if ((rc != 0)); then
    printf '%s (rep %s): exit %s %s\n' "$case" "$rep" "$rc" "$(head -c 300 "$T/err.txt" | tr '\n' ' ')" >>"$FAILS"
  fi
  python3 -c "print('$case', $rep, $t1 - $t0, $user + $sys, $rss, $rc, sep='\t')" >>"$RAW"
}
fresh() { rm -rf -- "$T/out"; mkdir -p "$T/out"; }
SI=(scanimage -d test:0 --mode Color --resolution 300)
QC=("$Q" /resolution=300 /mode=2 /path="$T/out" /fname=p)

for ((rep = 1; rep <= REPS; rep++)); do
  fresh; sample "scanimage --format=png" "$rep" "${SI[@]}" --format=png -o "$T/out/p.png"
  fresh; sample "quillora /ext=png" "$rep" "${QC[@]}" /ext=png
  fresh; sample "scanimage --format=jpeg" "$rep" "${SI[@]}" --format=jpeg -o "$T/out/p.jpg"
  fresh; sample "quillora /ext=jpg" "$rep" "${QC[@]}" /ext=jpg
  fresh; sample "scanimage --format=tiff" "$rep" "${SI[@]}" --format=tiff -o "$T/out/p.tif"
  fresh; sample "scanimage --format=tiff + tiffcp -c lzw" "$rep" bash -c \
    "${SI[*]} --format=tiff -o '$T/out/raw.tif' && tiffcp -c lzw '$T/out/raw.tif' '$T/out/p.tif'"
  fresh; sample "quillora /ext=tif (LZW)" "$rep" "${QC[@]}" /ext=tif
  fresh; sample "scanimage --batch, 10 uncompressed TIFF" "$rep" "${SI[@]}" --source "Automatic Document Feeder" \
    --batch="$T/out/p%d.tif" --batch-count=10 --format=tiff
  fresh; sample "quillora --batch /adf, 10 LZW TIFF" "$rep" "$Q" --batch /adf /resolution=300 /mode=2 \
    /ext=tif /path="$T/out" /fname=p
  pages=$(find "$T/out" -name 'p*.tif' | wc -l)
  [[ $pages == 10 ]] || echo "quillora --batch (rep $rep) wrote $pages pages" >>"$FAILS"
done

python3 - "$RAW" <<'EOF'
import statistics, sys
rows, order = {}, []
for line in open(sys.argv[1]):
    case, rep, wall, cpu, rss, rc = line.rstrip('\n').split('\t')
    if case not in rows:
        order.append(case)
    rows.setdefault(case, {})[int(rep)] = (float(wall), float(cpu), int(rss), int(rc))
against = {
    'quillora /ext=png': ['scanimage --format=png'],
    'quillora /ext=jpg': ['scanimage --format=jpeg'],
    'quillora /ext=tif (LZW)': ['scanimage --format=tiff', 'scanimage --format=tiff + tiffcp -c lzw'],
    'quillora --batch /adf, 10 LZW TIFF': ['scanimage --batch, 10 uncompressed TIFF'],
}
def good(case):
    return {r: v for r, v in rows.get(case, {}).items() if v[3] == 0}
print('| Case | wall (median) | CPU (median) | peak RSS | failed | wall, rep by rep |')
print('|---|---|---|---|---|---|')
for case in order:
    runs, ok = rows[case], good(case)
    failed = len(runs) - len(ok)
    if not ok:
        print(f'| {case} | - | - | - | {failed} | - |')
        continue
    wall = statistics.median(v[0] for v in ok.values())
    cpu = statistics.median(v[1] for v in ok.values())
    rss = max(v[2] for v in ok.values())
    ratios = []
    for base in against.get(case, []):
        b = good(base)
        rs = [v[0] / b[r][0] for r, v in ok.items() if r in b]
        if rs:
            ratios.append(f'{statistics.median(rs):.2f}x {base}')
    print(f'| {case} | {wall:.3f} s | {cpu:.3f} s | {rss / 1024:.0f} MiB | {failed} | {"; ".join(ratios) or "-"} |')
EOF
if [[ -s $FAILS ]]; then echo; echo "Failures:"; cat "$FAILS"; fi
