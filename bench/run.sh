#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Quillora's encoders, multipage writers and scan path measured side by side with the standard
# tools on the same pages (SANE test scanner 'Color pattern' and a noisy copy of it).
#
#   bash bench/run.sh                  # REPS=5 (per page), MP_REPS=3 (multipage)
#   REPS=7 MP_REPS=5 OUT_DIR=/some/dir bash bench/run.sh
#   SECTIONS=c REPS=9 bash bench/run.sh  # the scan path (c) alone; a and b run together
#
# Needs the programs of bench/install-bench-deps.sh (ImageMagick as /usr/bin/convert, img2pdf,
# tiffcp, scanimage, pdfinfo, /usr/bin/time) and python3. Builds the bench programs in
# build-bench/ (Release, no tests). All scratch data lives in one mktemp folder, removed on
# exit; the results go to last-run.md / last-run.tsv next to this script.
#
# Within a section the repetitions are interleaved (rep 1 of every case, then rep 2, ...), so
# machine noise falls on all cases alike; ratios are taken rep by rep, then the median.
# Debian's ImageMagick policy forbids writing PDF: run as root with unshare(1), the script
# re-executes itself in a private mount namespace and bind-mounts a copy of the policy minus
# that one line (no file on the system changes). Otherwise the convert PDF rows fail.
# shellcheck disable=SC2016
set -euo pipefail
export LC_ALL=C

SCRIPT=$(readlink -f -- "${BASH_SOURCE[0]}")
HERE=$(dirname -- "$SCRIPT")
ROOT=$(dirname -- "$HERE")
if [[ ${BENCH_IN_NS:-0} != 1 && $EUID -eq 0 ]] && command -v unshare >/dev/null \
   && unshare -m --propagation private true 2>/dev/null; then
  exec env BENCH_IN_NS=1 unshare -m --propagation private bash "$SCRIPT" "$@"
fi

REPS=${REPS:-5}
MP_REPS=${MP_REPS:-3}
SECTIONS=${SECTIONS:-abc}
MP_COUNTS=${MP_COUNTS:-"20 60"}   # page counts of (b); convert runs at the first only
OUT_DIR=${OUT_DIR:-$HERE}
BUILD=${BUILD:-$ROOT/build-bench}
CONVERT=/usr/bin/convert
START=$EPOCHREALTIME

T=$(mktemp -d "${TMPDIR:-/tmp}/quillora-bench.XXXXXX")
POLICY_MOUNT=""
cleanup() {
  if [[ -n $POLICY_MOUNT ]]; then umount "$POLICY_MOUNT" 2>/dev/null || true; fi
  rm -rf -- "$T"
}
trap cleanup EXIT
RAW=$T/raw.tsv; : >"$RAW"
NOTES=$T/notes.txt; : >"$NOTES"
note() { printf '%s\n' "$*" >>"$NOTES"; }
log() { printf '[%6.1fs] %s\n' "$(python3 -c "print($EPOCHREALTIME - $START)")" "$*" >&2; }

# sample SECTION CASE REP OUT cmd...   (OUT: the file whose size is reported, or -)
sample() {
  local sec=$1 case=$2 rep=$3 out=$4; shift 4
  local t0 t1 rc=0 tm size=0
  if [[ $out != - ]]; then rm -f -- "$out"; fi
  t0=$EPOCHREALTIME
  /usr/bin/time -o "$T/time.txt" -f '%M %U %S' timeout -k 5 "${DEADLINE:-300}" "$@" </dev/null >"$T/cmd.out" 2>"$T/cmd.err" || rc=$?
  t1=$EPOCHREALTIME
  tm=$(tail -n 1 "$T/time.txt")
  if [[ $out != - && -e $out ]]; then size=$(stat -c %s -- "$out"); fi
  if (( rc != 0 )) && ! grep -qF "FAIL $sec|$case" "$NOTES"; then
    note "FAIL $sec|$case rc=$rc: $(tr '\n' ' ' <"$T/cmd.err" | cut -c1-300)"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$sec" "$case" "$rep" "$(python3 -c "print($t1 - $t0)")" \
    "${tm// /$'\t'}" "$rc" "$size" | awk -F'\t' -v OFS='\t' '{print $1,$2,$3,$4,$5,$6+$7,$8,$9}' >>"$RAW"
}
# raw SECTION CASE REP SECONDS BYTES  (a figure measured inside a program)
raw() { printf '%s\t%s\t%s\t%s\t0\t0\t0\t%s\n' "$@" >>"$RAW"; }

# ---------------------------------------------------------------- build
log "building the bench programs in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DQUILLORA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >"$T/cmake.log" 2>&1
cmake --build "$BUILD" --target quillora-scanner bench_encode bench_multipage bench_scan -j2 >>"$T/cmake.log" 2>&1
# The bench programs live in bench/, not beside the scanner helper as the program does.
export QUILLORA_SCANNER_HELPER=$BUILD/quillora-scanner
ENC=$BUILD/bench/bench_encode
MP=$BUILD/bench/bench_multipage
SC=$BUILD/bench/bench_scan

# ---------------------------------------------------------------- environment
ENV=$T/env.txt
{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "host: $(nproc) CPU ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')), $(free -m | awk '/Mem:/{print $2}') MiB RAM, kernel $(uname -r)"
  echo "scratch: $T on $(findmnt -n -T "$T" -o SOURCE,FSTYPE | tr -s ' ')"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "reps: $REPS per page case, $MP_REPS per multipage case"
  echo "commit: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "packages: $(dpkg-query -W -f='${Package}=${Version} ' sane-utils libsane1 imagemagick-6.q16 img2pdf libtiff-tools libtiff6 libjpeg62-turbo zlib1g libgif7 libqt6gui6 2>/dev/null || true)"
} >"$ENV"

# ---------------------------------------------------------------- ImageMagick PDF policy
mkdir -p "$T/magick"; export MAGICK_TEMPORARY_PATH=$T/magick
"$CONVERT" -size 8x8 xc:white "$T/probe.bmp"
if ! "$CONVERT" "$T/probe.bmp" "$T/probe.pdf" 2>/dev/null; then
  POLICY=$("$CONVERT" -list policy | awk '/^Path: \//{print $2; exit}')
  if [[ ${BENCH_IN_NS:-0} == 1 && -n $POLICY && -f $POLICY ]]; then
    grep -v 'domain="coder" rights="none" pattern="PDF"' "$POLICY" >"$T/policy.xml"
    if mount --bind "$T/policy.xml" "$POLICY" && "$CONVERT" "$T/probe.bmp" "$T/probe.pdf" 2>/dev/null; then
      POLICY_MOUNT=$POLICY
      note "ImageMagick PDF: stock policy forbids it; measured with a private bind-mounted copy of $POLICY minus that line"
    fi
  fi
  [[ -n $POLICY_MOUNT ]] || note "ImageMagick PDF: forbidden by the stock policy, convert PDF rows fail"
fi

# ---------------------------------------------------------------- SANE test backend
export SANE_CONFIG_DIR=$T/sane
mkdir -p "$SANE_CONFIG_DIR"; echo test >"$SANE_CONFIG_DIR/dll.conf"
if [[ -f /etc/sane.d/test.conf ]]; then cp /etc/sane.d/test.conf "$SANE_CONFIG_DIR/"; fi
SCAN=(scanimage -d test:0 --depth 8 --test-picture 'Color pattern' -l 0 -t 0 -x 200 -y 200 --mode Color)
DEVICE="Noname frontend-tester"

if [[ $SECTIONS == *a* || $SECTIONS == *b* ]]; then
# ---------------------------------------------------------------- inputs
log "preparing inputs"
mkdir -p "$T/in" "$T/o" "$T/mp"
"${SCAN[@]}" --resolution 300 --format=pnm -o "$T/in/s300.pnm"
"$CONVERT" "$T/in/s300.pnm" -density 300 -units PixelsPerInch -type TrueColor "$T/in/page300.bmp"
"$CONVERT" "$T/in/page300.bmp" -attenuate 0.25 +noise Gaussian -type TrueColor "$T/in/noisy300.bmp"
NP=${MP_COUNTS##* }
python3 - "$T/in/page300.bmp" "$T/mp" "$NP" <<'EOF'
# distinct 300 dpi colour pages from the scanned one: per page another roll and tone curve
import struct, sys
src, outdir, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(src, 'rb').read()
off = struct.unpack_from('<I', data, 10)[0]
w, h = struct.unpack_from('<ii', data, 18)
h = abs(h); stride = (w * 3 + 3) // 4 * 4
rows = [data[off + i * stride: off + (i + 1) * stride] for i in range(h)]
pad = bytes(stride - w * 3)
for k in range(1, n + 1):
    g = 0.5 + 1.5 * ((k - 1) % 20) / 19
    lut = bytes(round(255 * (v / 255) ** g) for v in range(256))
    dy, dx = (k * 113) % h, (k * 37) % w
    rr = rows[dy:] + rows[:dy]
    pix = b''.join(r[3 * dx: 3 * w] + r[:3 * dx] + pad for r in rr).translate(lut)
    open(f'{outdir}/p{k:02d}.bmp', 'wb').write(data[:off] + pix)
EOF
(cd "$T/mp" && printf '%s\n' p??.bmp | xargs -P 2 -I{} bash -c '
  b=${1%.bmp}; "$2" "$1" -quality 75 "$b.jpg"; "$2" "$1" -compress none "$b.tif"' _ {} "$CONVERT")
note "multipage inputs: $NP distinct pages, md5 distinct: $(md5sum "$T"/mp/p??.bmp | cut -d' ' -f1 | sort -u | wc -l)"

# ---------------------------------------------------------------- (a) one page, every format
# name|our case|convert options (word-split on purpose)|sources (p page300, n noisy300)
ENC_CASES="\
BMP|bmp||pn
GIF|gif||pn
JPG q75|jpg|-quality 75|pn
PNG|png||pn
PDF (JPEG q75)|pdf|-compress jpeg -quality 75|pn
TIFF none|tif:1|-compress none|p
TIFF CCITT RLE (convert: G3)|tif:2|-colorspace gray -threshold 50% -compress fax|p
TIFF CCITT G3|tif:3|-colorspace gray -threshold 50% -compress fax|p
TIFF CCITT G4|tif:4|-colorspace gray -threshold 50% -compress group4|pn
TIFF LZW|tif:5|-compress lzw|pn
TIFF JPEG q75|tif:7|-compress jpeg -quality 75|pn"
log "(a) per-page encoding"
for ((r = 1; r <= REPS; r++)); do
  for src in page300 noisy300; do
    key=${src:0:1}
    mem_cases=()
    while IFS='|' read -r name ours args srcs; do
      [[ $srcs == *"$key"* ]] || continue
      mem_cases+=("$ours")
      ext=${ours%%:*}; comp=${ours#*:}; [[ $comp == "$ours" ]] && comp=1
      # shellcheck disable=SC2086
      sample encode "$src | $name | convert" "$r" "$T/o/c.$ext" "$CONVERT" "$T/in/$src.bmp" $args "$T/o/c.$ext"
      sample encode "$src | $name | quillora process" "$r" "$T/o/q.$ext" "$ENC" one "$T/in/$src.bmp" "$T/o/q.$ext" "$comp"
    done <<<"$ENC_CASES"
    # the same cases encoded from a page held in memory (timed inside the program)
    "$ENC" mem "$T/in/$src.bmp" "$T/o" "${mem_cases[@]}" >"$T/mem.txt"
    while IFS=$'\t' read -r c secs bytes; do
      name=$(awk -F'|' -v c="$c" '$2 == c {print $1}' <<<"$ENC_CASES")
      raw encode "$src | $name | quillora in memory" "$r" "$secs" "$bytes"
    done <"$T/mem.txt"
  done
done

# ---------------------------------------------------------------- (b) multipage
log "(b) multipage"
cd "$T/mp"
for ((r = 1; r <= MP_REPS; r++)); do
  for n in $MP_COUNTS; do
    BMPS=(); JPGS=(); TIFS=()   # the first n pages
    for ((k = 1; k <= n; k++)); do
      BMPS+=("$(printf 'p%02d.bmp' "$k")"); JPGS+=("$(printf 'p%02d.jpg' "$k")"); TIFS+=("$(printf 'p%02d.tif' "$k")")
    done
    sample multi "$n pages | PDF | quillora" "$r" "$T/q.pdf" "$MP" "$T/q.pdf" "${BMPS[@]}"
    sample multi "$n pages | PDF | img2pdf (JPEG inputs, no re-encoding)" "$r" "$T/i.pdf" img2pdf "${JPGS[@]}" -o "$T/i.pdf"
    sample multi "$n pages | TIFF LZW | quillora" "$r" "$T/q.tif" "$MP" "$T/q.tif" -c 5 "${BMPS[@]}"
    sample multi "$n pages | TIFF LZW | tiffcp -c lzw (uncompressed TIFF inputs)" "$r" "$T/t.tif" tiffcp -c lzw "${TIFS[@]}" "$T/t.tif"
    if (( n == ${MP_COUNTS%% *} )); then
      sample multi "$n pages | PDF | convert -compress jpeg -quality 75" "$r" "$T/c.pdf" "$CONVERT" "${BMPS[@]}" -compress jpeg -quality 75 "$T/c.pdf"
      sample multi "$n pages | TIFF LZW | convert -compress lzw" "$r" "$T/c.tif" "$CONVERT" "${BMPS[@]}" -compress lzw "$T/c.tif"
    fi
  done
done
"$MP" "$T/v.pdf" p??.bmp && note "quillora $NP-page PDF: pages $(pdfinfo "$T/v.pdf" | awk '/^Pages/{print $2}'), page size $(pdfinfo "$T/v.pdf" | awk -F': *' '/^Page size/{print $2}')"
"$MP" "$T/v.tif" -c 5 p??.bmp && note "quillora $NP-page TIFF: directories $(tiffinfo "$T/v.tif" 2>/dev/null | grep -ac '^TIFF Directory')"
cd "$T"
fi

# ---------------------------------------------------------------- (c) acquire + write
log "(c) acquisition and writing"
mkdir -p "$T/o"
for ((r = 1; r <= REPS; r++)); do
  for f in png jpeg tiff; do
    case $f in png) ext=png ;; jpeg) ext=jpg ;; *) ext=tif ;; esac
    sample scan "300 dpi colour -> $f | scanimage" "$r" "$T/o/s.$f" "${SCAN[@]}" --resolution 300 --format=$f -o "$T/o/s.$f"
    sample scan "300 dpi colour -> $f | quillora" "$r" "$T/o/q.$ext" "$SC" "$DEVICE" 300 "$T/o/q.$ext" 5
  done
  # scanimage's TIFF is uncompressed: the same from us, and the floor (start, open, set up)
  sample scan "300 dpi colour -> tiff uncompressed | quillora" "$r" "$T/o/qn.tif" "$SC" "$DEVICE" 300 "$T/o/qn.tif" 1
  sample scan "300 dpi colour | quillora idle (source open, nothing read)" "$r" - "$SC" "$DEVICE" 300 -
  # what no scan path can go below: our libraries loaded and nothing done, and LZW coding
  # of scanimage's own TIFF by the standard tool, with no scanning at all
  sample scan "quillora libraries loaded, main returns at once" "$r" - "$SC" --loaded
  sample scan "tiffcp -c lzw of scanimage's TIFF (LZW alone, no scan)" "$r" "$T/o/sl.tif" tiffcp -c lzw "$T/o/s.tiff" "$T/o/sl.tif"
  sample scan "600 dpi colour | quillora idle (source open, nothing read)" "$r" - "$SC" "$DEVICE" 600 -
  for ext in png jpg tif; do
    sample scan "600 dpi colour -> $ext | quillora" "$r" "$T/o/q6.$ext" "$SC" "$DEVICE" 600 "$T/o/q6.$ext" 5
  done
  sample scan "600 dpi colour -> png | scanimage" "$r" "$T/o/s6.png" "${SCAN[@]}" --resolution 600 --format=png -o "$T/o/s6.png"
done
"$SC" "$DEVICE" 600 "$T/o/check.tif" 5 && note "600 dpi page: $(tiffinfo "$T/o/check.tif" 2>/dev/null | grep -a 'Image Width' | tr -s ' ')"

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg); total run time $(python3 -c "print(round($EPOCHREALTIME - $START))") s" >>"$ENV"

# ---------------------------------------------------------------- report
mkdir -p "$OUT_DIR"
cp "$RAW" "$OUT_DIR/last-run.tsv"
python3 "$HERE/summarize.py" "$RAW" "$ENV" "$NOTES" >"$OUT_DIR/last-run.md"
log "done: $OUT_DIR/last-run.md"
cat "$OUT_DIR/last-run.md"
