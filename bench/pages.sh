#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Searchable PDF export and turning a page, measured side by side with the standard tools:
#   (o) OCR: one 300 dpi text page into a searchable PDF, whole process, against
#       `tesseract page.png out pdf`; ten pages in one export against ten such runs in a row.
#   (r) turning a 300 dpi colour JPEG page (file, copy and thumbnail, as the pane does it)
#       against `jpegtran -rotate 90` plus `convert -thumbnail 100x75`.
#
#   REPS=3 bash bench/pages.sh        # repetitions, interleaved; medians are reported
#   SECTIONS=r REPS=7 bash bench/pages.sh   # turning alone
#
# Needs bench/install-bench-deps.sh (tesseract, jpegtran, ImageMagick as /usr/bin/convert).
# Every program runs under `timeout`. Results: pages-last-run.md beside this script.
set -euo pipefail
export LC_ALL=C
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
REPS=${REPS:-3}
SECTIONS=${SECTIONS:-or}
BUILD=${BUILD:-$ROOT/build-bench}
LIMIT=${LIMIT:-600}   # seconds for any one program
T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-pages.XXXXXX")
trap 'rm -rf -- "$T"' EXIT

cmake -S "$ROOT" -B "$BUILD" -DQUILLORA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >"$T/cmake.log" 2>&1
cmake --build "$BUILD" --target bench_pages -j2 >>"$T/cmake.log" 2>&1
BP=$BUILD/bench/bench_pages
export QT_QPA_PLATFORM=offscreen

if [[ $SECTIONS == *o* ]]; then timeout "$LIMIT" "$BP" text "$T" 10; fi
timeout "$LIMIT" "$BP" colour "$T/scan.jpg" "$T/copy.bmp"

RAW=$T/raw.tsv; : >"$RAW"
# run CASE REP cmd...: wall seconds of the whole command
run() {
  local case=$1 rep=$2; shift 2
  local t0=$EPOCHREALTIME
  timeout "$LIMIT" "$@" >"$T/out.txt" 2>"$T/err.txt" || { echo "FAIL $case: $(head -c 300 "$T/err.txt")" >&2; return 1; }
  printf '%s\t%s\t%s\n' "$case" "$rep" "$(python3 -c "print($EPOCHREALTIME - $t0)")" >>"$RAW"
}
pages=()
for i in $(seq 1 10); do pages+=("$T/page$i.bmp"); done
tenTesseract() { for i in $(seq 1 10); do tesseract "$T/page$i.png" "$T/cli$i" pdf; done; }
export -f tenTesseract; export T

for rep in $(seq 1 "$REPS"); do
  if [[ $SECTIONS == *o* ]]; then
    run ocr1.tesseract "$rep" tesseract "$T/page1.png" "$T/cli" pdf
    run ocr1.ours "$rep" "$BP" ocr "$T/ours1.pdf" "${pages[0]}"
    run ocr10.tesseract "$rep" bash -c tenTesseract
    run ocr10.ours "$rep" "$BP" ocr "$T/ours10.pdf" "${pages[@]}"
  fi
  for turn in 1 3; do
    cp "$T/scan.jpg" "$T/t.jpg"; cp "$T/copy.bmp" "$T/t.bmp"
    run "turn$turn.ours" "$rep" "$BP" turn "$T/t.jpg" "$T/t.bmp" "$turn"
    printf '%s\t%s\t%s\n' "turn$turn.inside" "$rep" "$(cat "$T/out.txt")" >>"$RAW"
  done
  run turn.jpegtran+convert "$rep" bash -c \
    "jpegtran -rotate 90 -outfile '$T/jt.jpg' '$T/scan.jpg' && /usr/bin/convert '$T/jt.jpg' -thumbnail 100x75 '$T/thumb.png'"
done

python3 - "$RAW" "$HERE/pages-last-run.md" <<'PY'
import sys, statistics, collections
rows = collections.defaultdict(list)
for line in open(sys.argv[1]):
    case, rep, sec = line.split('\t')
    rows[case].append(float(sec))
med = {c: statistics.median(v) for c, v in rows.items()}
def ratio(a, b): return med[a] / med[b]
out = ["| case | median s | samples |", "|---|---|---|"]
out += [f"| {c} | {med[c]:.2f} | {' '.join(f'{x:.2f}' for x in v)} |" for c, v in rows.items()]
out += ["", "| goal | ratio | verdict |", "|---|---|---|"]
for name, a, b, goal in [
    ("OCR one page, whole process / tesseract CLI", "ocr1.ours", "ocr1.tesseract", 1.0),
    ("OCR ten pages in one export / ten tesseract runs", "ocr10.ours", "ocr10.tesseract", 0.6),
    ("turn right (coded anew: A4 has partial blocks) / jpegtran+convert", "turn1.ours", "turn.jpegtran+convert", 0.5),
    ("turn left (lossless transform) / jpegtran+convert", "turn3.ours", "turn.jpegtran+convert", 0.5),
]:
    if a not in med or b not in med:
        continue
    r = ratio(a, b)
    out.append(f"| {name} | {r:.2f} (goal <= {goal}) | {'met' if r <= goal else 'missed'} |")
open(sys.argv[2], 'w').write('\n'.join(out) + '\n')
print('\n'.join(out))
PY
