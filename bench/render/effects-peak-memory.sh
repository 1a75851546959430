#!/bin/sh
# Peak memory and time of pelldrin-render on generated worst cases that stay within
# the default limits: a bilingual file whose full-frame effects change on every frame,
# and lines near the memory estimate's edge. Usage: effects-peak-memory.sh RENDERER [SECONDS]
set -eu
renderer=${1:?usage: effects-peak-memory.sh path/to/pelldrin-render [seconds]}
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelldrin-effects.XXXXXX")
trap 'rm -rf "$work"' EXIT

header() {
    printf '[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nScaledBorderAndShadow: yes\n\n'
    printf '[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n'
    printf 'Style: Default,DejaVu Sans,58,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,3,1.5,2,90,90,60,1\n'
    printf 'Style: Top,WenQuanYi Micro Hei,52,&H0000FFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,3,1.5,8,90,90,50,1\n\n'
    printf '[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n'
}

# Every two seconds: a full-frame veil whose colour and alpha change on every frame,
# a blurred, growing English line and a Chinese line that moves, both fading.
effects() {
    awk -v n="$seconds" 'function t(s) { return sprintf("0:%02d:%02d.%02d", int(s / 60), s % 60, 0) }
    BEGIN {
        for (s = 0; s + 2 <= n; s += 2) {
            printf "Dialogue: 0,%s,%s,Default,,0,0,0,,{\\an7\\pos(0,0)\\p1\\c&H203040&\\alpha&H60&\\t(\\c&H804020&\\alpha&HC0&)}m 0 0 l 1920 0 1920 1080 0 1080{\\p0}\n", t(s), t(s + 2)
            printf "Dialogue: 1,%s,%s,Default,,0,0,0,,{\\fad(300,300)\\blur3\\t(\\fscx130\\fscy130)}Line %d of the English text, with effects\n", t(s), t(s + 2), s
            printf "Dialogue: 1,%s,%s,Top,,0,0,0,,{\\move(300,80,1600,120)\\fad(200,200)}\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97\xe5\xb9\x95 %d\n", t(s), t(s + 2), s
        }
    }'
}

run() { # name frames options...
    name=$1
    frames=$2
    shift 2
    printf 'LoadPlugin("/opt/VSFilter.dll")\r\nMaskSub("%s", 1920, 1080, 23.976, %s)\r\n' \
        "$work/$name.ass" "$frames" >"$work/$name.avs"
    /usr/bin/time -f "%M %e" -o "$work/time" "$renderer" -v 1080p -f 23.976 "$@" \
        -o "$work/$name.xml" -o "$work/$name.sup" "$work/$name.avs" >/dev/null 2>"$work/err" ||
        { echo "$name: failed: $(tail -n 3 "$work/err")"; }
    read -r kb elapsed <"$work/time"
    echo "$name: peak $((kb / 1024)) MB, $elapsed s, $(grep -c '<Event ' "$work/$name.xml" 2>/dev/null || echo 0) events"
}

frames=$((seconds * 24000 / 1001))
{ header; effects; } >"$work/effects.ass"
run effects "$frames" -a1 -p1 -b1
run effects "$frames" -a0 -p0
# The largest lines the default memory limit lets through.
{ header; printf 'Dialogue: 0,0:00:00.00,0:00:02.00,Default,,0,0,0,,{\\fs1100\\bord40\\blur30}Big text\n'; } >"$work/big.ass"
run big 48 -a1 -p1
