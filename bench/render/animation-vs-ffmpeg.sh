#!/bin/sh
# pelldrin-render (XML, palette PNGs split in two parts as the default template asks, and SUP) on a generated 1080p karaoke opening with
# moving signs, fades, transforms and full-frame flashes, against FFmpeg drawing the same
# subtitles frame by frame over a transparent clip of the same length and throwing the
# frames away. Usage: animation-vs-ffmpeg.sh RENDERER [SECONDS] [KEEP_FOLDER]
# With KEEP_FOLDER the files stay there (anim.ass, anim.avs) for other timing tools.
set -eu
renderer=${1:?usage: animation-vs-ffmpeg.sh path/to/pelldrin-render [seconds] [folder]}
seconds=${2:-90}
if [ -n "${3:-}" ]; then
    work=$3
    mkdir -p "$work"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/pelldrin-anim.XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi

header() {
    printf '[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nScaledBorderAndShadow: yes\n\n'
    printf '[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n'
    printf 'Style: Kara,DejaVu Sans,64,&H00FFFFFF,&H0000D0FF,&H00402000,&H80000000,1,0,0,0,100,100,0,0,1,3,1.5,2,90,90,60,1\n'
    printf 'Style: Sign,DejaVu Serif,48,&H0030E0FF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,0,8,90,90,50,1\n\n'
    printf '[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n'
}

# Every 4.5 s a karaoke line of ten syllables that sweep in colour and fade in and out;
# during every other line a sign moves and turns across the top; every 15 s the whole
# frame flashes for a second.
events() {
    awk -v n="$seconds" 'function t(s) { return sprintf("0:%02d:%05.2f", int(s / 60), s - 60 * int(s / 60)) }
    BEGIN {
        split("ya mi no ka na ta ni hi ka ri ga mi e ru yo ko ko ro", syl, " ")
        for (i = 0; 1 + 4.5 * i + 4 <= n; ++i) {
            s = 1 + 4.5 * i
            line = "{\\fad(150,150)}"
            for (k = 0; k < 10; ++k) line = line "{\\kf" 30 + (i + k) % 4 * 5 "}" syl[(i * 3 + k) % 18 + 1]
            printf "Dialogue: 0,%s,%s,Kara,,0,0,0,,%s\n", t(s), t(s + 4), line
            if (i % 2 == 0)
                printf "Dialogue: 1,%s,%s,Sign,,0,0,0,,{\\move(300,90,1500,150)\\t(\\frz6\\fscx120)\\fad(300,300)}Station %d - Platform %d\n", t(s + 0.3), t(s + 3.7), i, i % 7 + 1
        }
        for (s = 10; s + 1 <= n; s += 15)
            printf "Dialogue: 2,%s,%s,Kara,,0,0,0,,{\\an7\\pos(0,0)\\bord0\\shad0\\p1\\1c&HFFE0C0&\\alpha&H40&\\t(\\alpha&HFF&)}m 0 0 l 1920 0 1920 1080 0 1080{\\p0}\n", t(s), t(s + 1)
    }'
}

frames=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 24000 / 1001 }')
{ header; events; } >"$work/anim.ass"
printf 'LoadPlugin("/opt/VSFilter.dll")\r\nMaskSub("%s", 1920, 1080, 23.976, %s)\r\n' \
    "$work/anim.ass" "$frames" >"$work/anim.avs"
[ -n "${3:-}" ] && exit 0

/usr/bin/time -f "%e %U %S %M" -o "$work/ffmpeg.time" ffmpeg -nostdin -v error -f lavfi \
    -i "color=c=black@0:s=1920x1080:r=24000/1001:d=$seconds,format=rgba" \
    -vf "subtitles=$work/anim.ass" -f null -
/usr/bin/time -f "%e %U %S %M" -o "$work/render.time" "$renderer" -v 1080p -f 23.976 -a1 -p1 -b1 \
    -o "$work/anim.xml" -o "$work/anim.sup" "$work/anim.avs" >/dev/null
read -r fe fu fs fm <"$work/ffmpeg.time"
read -r re ru rs rm <"$work/render.time"
events=$(grep -c '<Event ' "$work/anim.xml")
awk -v fe="$fe" -v re="$re" -v ru="$ru" -v rs="$rs" -v rm="$rm" -v fm="$fm" -v ev="$events" 'BEGIN {
    printf "ffmpeg: %.2f s, %d MB; pelldrin-render: %.2f s, %d MB, %d events\n", fe, fm / 1024, re, rm / 1024, ev
    printf "time against ffmpeg: %.2f; CPU per event: %.2f ms\n", re / fe, (ru + rs) * 1000 / ev
}'
