#!/usr/bin/env bash
# What an HDR10 run costs against an SDR run of the same file: bench_render's 2000-event
# dialogue file and the corpus's animated opening, each converted as the window's default
# task does (XML, palette PNGs split in two parts, a .sup), SDR and HDR10 by turns, RUNS
# times each. Prints, per file, the medians of wall and CPU seconds and of the HDR10/SDR
# ratios taken pair by pair (one run on a shared machine is noise).
#
#   hdr10-cost.sh RENDERER BENCH_RENDER [RUNS] [CORPUS]
#     RENDERER      pelldrin-render of a release build
#     BENCH_RENDER  bench_render of the same sources (it writes the dialogue file)
#     RUNS          pairs of runs per file (default 5)
#     CORPUS        the corpus of real subtitle files (default: ../shared/corpus beside the
#                   repository); without it the opening is left out
set -euo pipefail
if (($# < 2)); then
  sed -n '/^#   hdr10-cost.sh/,/^#                   repository/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
renderer=$1
bench_render=$2
runs=${3:-5}
corpus=${4:-$root/../shared/corpus}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelldrin-hdr10-cost.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bench_render" --write-dialogue "$work/in"
scripts=("$work/in/dialogue.avs")
opening=$corpus/ass/jso_railgun_op.ass
if [[ -f $opening ]]; then
  # Linked beside the corpus's fonts, with a clip that ends after its last event.
  ln -s "$opening" "$work/in/opening.ass"
  [[ -d $corpus/fonts ]] && ln -s "$corpus/fonts" "$work/in/fonts"
  frames=$(awk -F, '/^Dialogue:/ { split($3, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3];
                                   if (s > end) end = s }
                    END { printf "%d", end * 24000 / 1001 + 48 }' "$opening")
  printf 'LoadPlugin("/opt/VSFilter.dll")\r\nMaskSub("%s", 1920, 1080, 23.976, %s)\r\n' \
    "$work/in/opening.ass" "$frames" >"$work/in/opening.avs"
  scripts+=("$work/in/opening.avs")
else
  echo "hdr10-cost: no $opening; the opening is left out" >&2
fi

# One run: wall, user and system seconds on one line.
run() {
  local out=$work/$1 script=$2
  shift 2
  mkdir -p "$out"
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$renderer" -t x -l eng -v 1080p -f 23.976 -a1 \
    -p1 -b1 -m3 "$@" -o "$out/x.xml" -o "$out/x.sup" "$script" >/dev/null 2>"$work/err" ||
    { echo "hdr10-cost: the run failed: $(tail -n 1 "$work/err")" >&2; exit 1; }
  tail -n 1 "$work/time"
}
median() { sort -g | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

for script in "${scripts[@]}"; do
  : >"$work/pairs"
  for ((k = 0; k < runs; ++k)); do
    echo "$(run sdr "$script") $(run hdr "$script" --colour hdr10)" >>"$work/pairs"
  done
  # Columns: SDR wall user system, HDR10 wall user system.
  col() { awk "{ print $1 }" "$work/pairs" | median; }
  printf '%s, medians of %d pairs: SDR %.2f s wall, %.2f s CPU; HDR10 %.2f s wall, %.2f s CPU; HDR10/SDR wall %.3f, CPU %.3f\n' \
    "$(basename "$script" .avs)" "$runs" "$(col '$1')" "$(col '$2 + $3')" "$(col '$4')" \
    "$(col '$5 + $6')" "$(col '$4 / $1')" "$(col '($5 + $6) / ($2 + $3)')"
done
