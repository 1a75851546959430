#!/bin/sh
# Reading a text track and its fonts out of a large release: pelldrin-render --extract
# against mkvextract on the same file, by turns, the file in the page cache (as it is right
# after a download or a copy). The release is made here: the corpus's karaoke opening with
# its two fonts (or, without the corpus, a generated script of as many lines) beside an
# uncompressed 720p video as long as the subtitles, so the track is spread through some
# GB. Prints the medians of RUNS runs each and their ratio, and how long listing the head
# takes and how much of the file it reads.
#   extract-vs-mkvextract.sh RENDERER [RUNS] [KEEP_FOLDER]
# With KEEP_FOLDER the release stays there (release.mkv) for other timing tools.
set -eu
renderer=$(cd "$(dirname "${1:?usage: extract-vs-mkvextract.sh path/to/pelldrin-render [runs] [folder]}")" && pwd)/$(basename "$1")
runs=${2:-5}
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$root/../shared/corpus
if [ -n "${3:-}" ]; then
    work=$3
    mkdir -p "$work"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/pelldrin-mkv.XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)

if [ -f "$corpus/ass/jso_railgun_op.ass" ]; then
    subtitle=$corpus/ass/jso_railgun_op.ass
    font1=$corpus/fonts/CabinCondensed-Regular.ttf
    font2=$corpus/fonts/SourceSansPro-SemiBold.ttf
else
    # 5700 lines over 90 seconds, as dense as the opening.
    subtitle=$work/generated.ass
    {
        printf '[Script Info]\nScriptType: v4.00+\nPlayResX: 1280\nPlayResY: 720\n\n[Events]\n'
        printf 'Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n'
        awk 'BEGIN { for (i = 0; i < 5700; ++i) { s = i * 0.0157; printf "Dialogue: 0,0:%02d:%05.2f,0:%02d:%05.2f,Default,,0,0,0,fx,{\\an5\\pos(%d,46)\\t(0,33,\\bord10)}syllable %d\n", int(s / 60), s - 60 * int(s / 60), int((s + 1) / 60), s + 1 - 60 * int((s + 1) / 60), 100 + i % 1000, i } }'
    } >"$subtitle"
    font1=$root/tests/data/fonts/PelldrinTestSerif.ttf
    font2=$font1
fi

release=$work/release.mkv
if [ ! -f "$release" ]; then
    seconds=$(awk -F, '/^Dialogue:/ { split($3, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]; if (s > m) m = s } END { printf "%.2f", m + 1 }' "$subtitle")
    ffmpeg -nostdin -v error -f lavfi -i "color=c=gray:s=1280x720:r=24000/1001:d=$seconds" \
        -i "$subtitle" -attach "$font1" -attach "$font2" \
        -metadata:s:t:0 mimetype=font/ttf -metadata:s:t:1 mimetype=application/x-truetype-font \
        -map 0:v -map 1:s -c:v rawvideo -pix_fmt yuv420p -c:s copy -f matroska "$release"
fi
size=$(wc -c <"$release")
cat "$release" >/dev/null # into the page cache

# Elapsed seconds of a command, its output thrown away.
elapsed() {
    /usr/bin/time -f '%e' -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
}
: >"$work/pairs"
i=0
while [ "$i" -lt "$runs" ]; do
    rm -rf "$work/ours" "$work/theirs"
    mkdir -p "$work/theirs/fonts"
    ours=$(elapsed "$renderer" --extract 1 "$release" -o "$work/ours")
    theirs=$(elapsed mkvextract "$release" tracks "1:$work/theirs/release.ass" \
        attachments "1:$work/theirs/fonts/1.ttf" "2:$work/theirs/fonts/2.ttf")
    echo "$ours $theirs" >>"$work/pairs"
    i=$((i + 1))
done
[ "$(grep -c '^Dialogue:' "$work/ours/release.track1.ass")" = "$(grep -c '^Dialogue:' "$subtitle")" ] || {
    echo "extract-vs-mkvextract: the extracted track lacks lines" >&2
    exit 1
}

median() { sort -g | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ours=$(awk '{ print $1 }' "$work/pairs" | median)
theirs=$(awk '{ print $2 }' "$work/pairs" | median)
ratios=$(awk '{ printf "%.3f\n", $1 / $2 }' "$work/pairs" | sort -g)
printf 'release of %d MB: --extract %.2f s, mkvextract %.2f s (medians of %d); time against mkvextract %.2f (runs %.2f to %.2f)\n' \
    "$((size / 1048576))" "$ours" "$theirs" "$runs" "$(echo "$ratios" | median)" \
    "$(echo "$ratios" | head -n 1)" "$(echo "$ratios" | tail -n 1)"

# Listing reads the head alone: what it reads does not grow with the file.
heads=$(elapsed "$renderer" --tracks "$release")
if command -v strace >/dev/null; then
    strace -e trace=read,pread64 -o "$work/trace" "$renderer" --tracks "$release" >/dev/null 2>&1
    read_kb=$(awk -F'= ' '$NF + 0 > 0 { s += $NF } END { printf "%d", s / 1024 }' "$work/trace")
    printf -- '--tracks: %.2f s, %d KB read in all (the file and the libraries)\n' "$heads" "$read_kb"
else
    printf -- '--tracks: %.2f s\n' "$heads"
fi
