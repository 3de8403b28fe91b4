#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# One interactive scan job measured end to end (acquire 300 dpi colour, 200 x 200 mm, the PNG
# page file, the temporary BMP copy, the thumbnail, the pane entry) against scanimage alone
# and against the same work done with the standard tools; then ten feeder pages to LZW TIFF.
#
#   bash bench/pipeline.sh              # REPS=5
#   REPS=9 BUILD=/some/build bash bench/pipeline.sh
#
# Needs scanimage, ImageMagick's convert, /usr/bin/time and python3. Builds bench_pipeline in
# $BUILD (default build-bench, Release, no tests). Scratch data lives in one mktemp folder.
# Repetitions are interleaved (rep 1 of every case, then rep 2, ...) so that machine noise
# falls on all cases alike; the table gives medians of wall-clock and CPU (user + system).
set -euo pipefail
export LC_ALL=C

HERE=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
ROOT=$(dirname -- "$HERE")
REPS=${REPS:-5}
BUILD=${BUILD:-$ROOT/build-bench}
T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-pipeline.XXXXXX")
trap 'rm -rf -- "$T"' EXIT

# Always brought up to date: a stale program would measure old code.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target quillora-scanner bench_pipeline -j2 >/dev/null
# The bench programs live in bench/, not beside the scanner helper as the program does.
export QUILLORA_SCANNER_HELPER=$BUILD/quillora-scanner
PIPE=$BUILD/bench/bench_pipeline

# The test scanner with a colour picture over the whole 200 x 200 mm area.
mkdir -p "$T/sane" "$T/config/Quillora"
echo test >"$T/sane/dll.conf"
cp /etc/sane.d/test.conf "$T/sane/test.conf"
printf 'test-picture "Color pattern"\ndepth 8\nbr_x 200.0\nbr_y 200.0\n' >>"$T/sane/test.conf"
export SANE_CONFIG_DIR=$T/sane XDG_CONFIG_HOME=$T/config QT_QPA_PLATFORM=offscreen
# TIFF compression index 4 is LZW.
printf '[General]\nTIFFCompression=4\n' >"$T/config/Quillora/Quillora.conf"
# The program's fixed start-up (Qt, the window, SANE without devices), to tell it from the job.
mkdir -p "$T/none"; : >"$T/none/dll.conf"

RAW=$T/raw.tsv; : >"$RAW"
# sample CASE cmd...: wall seconds, CPU seconds, peak RSS (KiB)
sample() {
  local case=$1; shift
  local t0 t1
  t0=$EPOCHREALTIME
  /usr/bin/time -o "$T/time.txt" -f '%M %U %S' timeout -k 5 "${DEADLINE:-120}" "$@" >/dev/null 2>"$T/err.txt" \
    || [[ $case == *start-up* ]] || { echo "$case failed:" >&2; cat "$T/err.txt" >&2; exit 1; }
  t1=$EPOCHREALTIME
  read -r rss user sys < <(tail -n 1 "$T/time.txt")
  python3 -c "print('$case', $t1 - $t0, $user + $sys, $rss, sep='\t')" >>"$RAW"
}

fresh() { rm -rf -- "$T/out" "$T/temp"; mkdir -p "$T/out" "$T/temp"; }

# The same work with the standard tools, as one command so /usr/bin/time sees all of it.
TOOLS='scanimage -d test:0 --mode Color --resolution 300 --format=png -o "$T/out/page.png" &&
  convert "$T/out/page.png" "BMP3:$T/temp/copy.bmp" &&
  convert "$T/temp/copy.bmp" -thumbnail 100x75 -background white -gravity center -extent 100x75 "$T/temp/thumb.bmp"'
export T

for ((rep = 1; rep <= REPS; rep++)); do
  fresh; sample "scanimage --format=png" scanimage -d test:0 --mode Color --resolution 300 --format=png -o "$T/out/page.png"
  fresh; sample "Quillora job (PNG + BMP copy + thumbnail + entry)" env TEMP="$T/temp" "$PIPE" "$T/out" 300 3
  fresh; sample "Quillora start-up alone (no scanner)" env SANE_CONFIG_DIR="$T/none" TEMP="$T/temp" "$PIPE" "$T/out" 300 3 || true
  fresh; sample "scanimage + convert (BMP copy) + convert (thumbnail)" bash -c "$TOOLS"
  fresh; sample "scanimage --format=tiff + tiffcp -c lzw" bash -c \
    "scanimage -d test:0 --mode Color --resolution 300 --format=tiff -o '$T/out/raw.tif' && tiffcp -c lzw '$T/out/raw.tif' '$T/out/page.tif'"
  fresh; sample "Quillora job, flatbed, 1 page LZW TIFF" env TEMP="$T/temp" "$PIPE" "$T/out" 300 5
  fresh; sample "Quillora job, feeder, 10 pages LZW TIFF" env TEMP="$T/temp" "$PIPE" "$T/out" 300 5 adf
  pages=$(find "$T/out" -name '*.tiff' | wc -l)
  [[ $pages == 10 ]] || { echo "feeder run wrote $pages pages" >&2; exit 1; }
done

python3 - "$RAW" <<'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    case, wall, cpu, rss = line.rstrip('\n').split('\t')
    rows.setdefault(case, []).append((float(wall), float(cpu), int(rss)))
med = {c: (statistics.median(w for w, _, _ in v), statistics.median(c_ for _, c_, _ in v),
           max(r for _, _, r in v)) for c, v in rows.items()}
print('| Case | wall (median) | CPU (median) | peak RSS |')
print('|---|---|---|---|')
for c, (w, cpu, rss) in med.items():
    print(f'| {c} | {w:.3f} s | {cpu:.3f} s | {rss / 1024:.0f} MiB |')
base = med['scanimage --format=png']
job = med['Quillora job (PNG + BMP copy + thumbnail + entry)']
tools = med['scanimage + convert (BMP copy) + convert (thumbnail)']
print()
start = med['Quillora start-up alone (no scanner)']
print(f'Job / scanimage alone: wall {job[0] / base[0]:.2f}x, CPU {job[1] / base[1]:.2f}x; '
      f'without the start-up: CPU {(job[1] - start[1]) / base[1]:.2f}x')
print(f'Tool pipeline / job: wall {tools[0] / job[0]:.2f}x, CPU {tools[1] / job[1]:.2f}x')
one = med['Quillora job, flatbed, 1 page LZW TIFF']
lzw = med['scanimage --format=tiff + tiffcp -c lzw']
print(f'LZW TIFF job / scanimage + tiffcp -c lzw: wall {one[0] / lzw[0]:.2f}x, CPU {one[1] / lzw[1]:.2f}x')
ten = med['Quillora job, feeder, 10 pages LZW TIFF']
print(f'Feeder LZW TIFF: {ten[0] / 10:.3f} s wall and {ten[1] / 10:.3f} s CPU per page; '
      f'peak RSS {ten[2] / 1024:.0f} MiB for 10 pages vs {one[2] / 1024:.0f} MiB for 1')
EOF
