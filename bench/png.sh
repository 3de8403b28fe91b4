#!/usr/bin/env bash
# Our zlib PNG encoder and libpng (Sub/Up filters, level 2, a row at a time) side by side on
# pages held in memory: the SANE test scanner's 'Color pattern' at 300 and 600 dpi, a noisy
# copy of each (Gaussian grain, as bench/run.sh makes it), and two pages that look more like
# what a scanner's optics give: the 600 dpi pattern downsampled to 300 dpi (soft edges) and
# the 300 dpi pattern with light grain.
#
#   bash bench/png.sh                  # REPS=7
#
# Needs scanimage, ImageMagick's convert and python3. The encoders alternate within each
# repetition, so machine noise falls on both alike; ratios are taken rep by rep, then the
# median. Wall time is what the user waits for; CPU time shows what a second core buys.
set -euo pipefail
export LC_ALL=C

HERE=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
ROOT=$(dirname -- "$HERE")
REPS=${REPS:-7}
BUILD=${BUILD:-$ROOT/build-bench}
CONVERT=/usr/bin/convert
T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-png.XXXXXX")
trap 'rm -rf -- "$T"' EXIT

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target bench_png -j2 >/dev/null

export SANE_CONFIG_DIR=$T/sane
mkdir -p "$SANE_CONFIG_DIR" "$T/o"; echo test >"$SANE_CONFIG_DIR/dll.conf"
cp /etc/sane.d/test.conf "$SANE_CONFIG_DIR/"
for r in 300 600; do
  timeout 120 scanimage -d test:0 --depth 8 --test-picture 'Color pattern' -l 0 -t 0 -x 200 -y 200 \
    --mode Color --resolution "$r" --format=pnm -o "$T/s$r.pnm"
  timeout 120 "$CONVERT" "$T/s$r.pnm" -density "$r" -units PixelsPerInch -type TrueColor "$T/clean$r.bmp"
  timeout 300 "$CONVERT" "$T/clean$r.bmp" -attenuate 0.25 +noise Gaussian -type TrueColor "$T/noisy$r.bmp"
done
timeout 120 "$CONVERT" "$T/clean600.bmp" -resize 50% -density 300 -units PixelsPerInch -type TrueColor "$T/soft300.bmp"
timeout 120 "$CONVERT" "$T/clean300.bmp" -attenuate 0.03 +noise Gaussian -type TrueColor "$T/grain300.bmp"

RAW=$T/raw.tsv; : >"$RAW"
for page in clean300 noisy300 clean600 noisy600 soft300 grain300; do
  timeout 600 "$BUILD/bench/bench_png" "$T/$page.bmp" "$T/o" "$REPS" | sed "s/^/$page\t/" >>"$RAW"
done

python3 - "$RAW" <<'PY'
import statistics as st, sys
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1])]
S = {}
for page, enc, rep, wall, cpu, size in rows:
    S.setdefault(page, {}).setdefault(enc, {})[int(rep)] = (float(wall), float(cpu), int(size))
print('| page | ours wall s | libpng wall s | libpng/ours wall | ours CPU s | libpng CPU s | libpng/ours CPU | ours bytes | libpng bytes |')
print('|---|---|---|---|---|---|---|---|---|')
for page, e in S.items():
    o, l = e['ours'], e['libpng']
    reps = [r for r in o if r in l]
    m = lambda d, i: st.median(d[r][i] for r in reps)
    q = lambda i: st.median(l[r][i] / o[r][i] for r in reps)
    print(f"| {page} | {m(o,0):.3f} | {m(l,0):.3f} | {q(0):.2f} | {m(o,1):.3f} | {m(l,1):.3f} | {q(1):.2f} | {o[reps[0]][2]:,} | {l[reps[0]][2]:,} |")
PY
