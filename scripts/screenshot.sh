#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later

# Screenshots of the real program under Xvfb at Qt scale factors 1 and 2 with
# the desktop's default font, and at scale 1 on a desktop whose font is set to
# 14 points; the layout checks of tests/tst_desktop on that X server in each.
#
# The 14-point desktop is the KDE one as Qt reads it, with no settings program
# or Qt platform theme plugin: XDG_CURRENT_DESKTOP=KDE, KDE_SESSION_VERSION=5
# and a kdeglobals file whose [General] font is "Sans Serif,14" (Qt then also
# takes KDE's default colours). Qt 6.4 under xcb has no -font option.
#
# For each run the program starts from a program folder of its own that holds
# a small sample database, the third record line is clicked (picked into the
# fields and marked in the view), and the window is captured as the X server
# shows it. Checked:
#   - at scale 2 the window is exactly twice the size at scale 1 and, shrunk
#     to half, matches it tile by tile up to font rendering (no control moved,
#     vanished or changed size);
#   - tst_desktop passes on the X server in each run: the window is the layout
#     table grown by one factor, every control inside its container, no
#     overlap, every caption fits and none is clipped.
#
# Usage: scripts/screenshot.sh BUILD_DIR [OUT_DIR]
#   OUT_DIR defaults to docs/ of the repository, whose screenshot.png (default
#   font) the README shows and screenshot-14pt.png the user guide.
# Needs xvfb-run, xauth, xdotool and ImageMagick (import, convert, compare);
# exits with 77 (skipped) when one is missing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: screenshot.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=${2:-$repo/docs}
mkdir -p "$out"
out=$(cd "$out" && pwd)

for tool in xvfb-run xauth xdotool import convert compare; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (apt-get install -y xvfb xauth xdotool imagemagick)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/capture.sh" <<'EOF'
#!/usr/bin/env bash
# Runs inside xvfb-run: the program at scale $3, captured into $4; with a
# desktop font of $5 points if given.
set -euo pipefail
program_dir=$1 build=$2 scale=$3 shot=$4 points=${5:-}
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale
if [ -n "$points" ]; then
    export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$program_dir/config"
    export QT_LOGGING_RULES='qt.qpa.theme.dbus=false' # no session bus to watch for changes
    mkdir -p "$XDG_CONFIG_HOME"
    printf '[General]\nfont=Sans Serif,%s,-1,5,50,0,0,0,0,0\n' "$points" >"$XDG_CONFIG_HOME/kdeglobals"
fi
"$program_dir/stockbook" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Stockbook v1\.01 by ')
sleep 1 # let the first paint settle
# A click on the third line of the view. In the layout table's pixels (the
# window is 753 of them wide) the view begins 104 down and a line is about 12.5
# high, at every font size and scale, since the layout grows with the font: 138
# down is the middle of the third line.
width=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
xdotool mousemove --window "$window" $((470 * width / 753)) $((138 * width / 753)) click 1
sleep 0.5
import -window "$window" "$shot"
kill $pid
wait $pid 2>/dev/null || true
trap - EXIT
# The control-level checks, on this X server at this scale.
"$build/tests/tst_desktop" -silent
EOF
chmod +x "$work/capture.sh"

mkdir "$work/program"
cp "$build/stockbook" "$work/program/stockbook"
printf '%s\r\n' \
    '[Box]: A1 [Item]: 10k [Nr]: 100 [Type]: Resistor' \
    '[Box]: A1 [Item]: 4k7 [Nr]: 85 [Type]: Resistor' \
    '[Box]: A2 [Item]: 100nF ceramic [Nr]: 60 [Type]: Capacitor' \
    '[Box]: A2 [Item]: 470uF 25V [Nr]: 12 [Type]: Capacitor' \
    '[Box]: A3 [Item]: BC547 [Nr]: 25 [Type]: Transistor' \
    '[Box]: A3 [Item]: BF199 [Nr]: 8 [Type]: RF Transistor' \
    '[Box]: B1 [Item]: 16 MHz [Nr]: 6 [Type]: Xtal' \
    '[Box]: B2 [Item]: NE555 [Nr]: 14 [Type]: IC' \
    '[Box]: B2 [Item]: ATmega328P [Nr]: 3 [Type]: MicroChip' \
    '[Box]: C1 [Item]: DIL-8 [Nr]: 20 [Type]: Socket' \
    '' >"$work/program/stockbook.txt"

# run name, scale, desktop font in points (empty: the default)
for run in "scale1 1" "scale2 2" "14pt 1 14"; do
    read -r name scale points <<<"$run"
    # -ac: the tests run as the unprivileged user "nobody", who cannot read
    # root's X authority file.
    if ! timeout 120 xvfb-run -a -s "-screen 0 1920x1080x24 -ac" \
        "$work/capture.sh" "$work/program" "$build" "$scale" "$work/$name.png" $points \
        >"$work/$name.log" 2>&1; then
        grep -v XDG_RUNTIME_DIR "$work/$name.log" || true
        echo "FAIL: the program or tst_desktop in the $name run under Xvfb" >&2
        exit 1
    fi
    echo "$name: window $(identify -format '%wx%h' "$work/$name.png"), tst_desktop passed on Xvfb"
done
read -r width1 height1 < <(identify -format '%w %h\n' "$work/scale1.png")
if [ "$(identify -format '%wx%h' "$work/scale2.png")" != "$((2 * width1))x$((2 * height1))" ]; then
    echo "FAIL: the window at scale 2 is not twice the ${width1}x$height1 at scale 1" >&2
    exit 1
fi

# Shrink the scale-2 picture to half and compare it with scale 1, tile by tile:
# both blurred (so that font hinting does not count), the difference averaged
# over 24 x 12 tiles of about 35 x 31 pixels. The same layout stays below 0.02
# in the worst tile; a button moved by half its height gives 0.05.
convert "$work/scale2.png" -resize "${width1}x${height1}!" "$work/scale2-half.png"
worst=$(convert \( "$work/scale1.png" -blur 0x3 \) \( "$work/scale2-half.png" -blur 0x3 \) \
    -compose difference -composite -colorspace gray -scale '24x12!' -format '%[fx:maxima]' info:)
echo "scale 2 shrunk to half against scale 1: worst tile differs by $worst (limit 0.03)"
if ! awk -v d="$worst" 'BEGIN { exit !(d != "" && d < 0.03) }'; then
    echo "FAIL: the layout at scale 2 differs from the one at scale 1" >&2
    exit 1
fi

convert "$work/scale1.png" -strip "$out/screenshot.png"
convert "$work/scale2.png" -strip "$out/screenshot-scale2.png"
convert "$work/14pt.png" -strip "$out/screenshot-14pt.png"
echo "written: $out/screenshot.png, $out/screenshot-scale2.png, $out/screenshot-14pt.png"
