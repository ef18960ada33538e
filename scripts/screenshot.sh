#!/usr/bin/env bash
# Screenshots of the real program under Xvfb at Qt scale factors 1 and 2, and
# the layout checks of tests/tst_desktop on that X server at both scales.
#
# For each scale the program starts from a program folder of its own that
# holds a small sample database, and its window is captured as the X server
# shows it. Checked:
#   - the window comes out at 753 x 329 times the scale factor, so the whole
#     fixed layout scales with Qt's scaling;
#   - the window at scale 2, shrunk to half, matches the one at scale 1 tile by
#     tile up to font rendering (no control moved, vanished or changed size);
#   - tst_desktop passes on the X server at both scales: every control inside
#     its container, no overlap, every caption fits and none is clipped.
#
# Usage: scripts/screenshot.sh BUILD_DIR [OUT_DIR]
#   OUT_DIR defaults to docs/ of the repository, whose screenshot.png is the
#   scale-1 picture that the README shows.
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
# Runs inside xvfb-run: the program at scale $3, captured into $4.
set -euo pipefail
program_dir=$1 build=$2 scale=$3 shot=$4
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale
"$program_dir/stockbook" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Stockbook v1\.01 by ')
sleep 1 # let the first paint settle
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

for scale in 1 2; do
    # -ac: the tests run as the unprivileged user "nobody", who cannot read
    # root's X authority file.
    if ! timeout 120 xvfb-run -a -s "-screen 0 1920x1080x24 -ac" \
        "$work/capture.sh" "$work/program" "$build" "$scale" "$work/scale$scale.png" \
        >"$work/scale$scale.log" 2>&1; then
        grep -v XDG_RUNTIME_DIR "$work/scale$scale.log" || true
        echo "FAIL: the program or tst_desktop at scale $scale under Xvfb" >&2
        exit 1
    fi
    size=$(identify -format '%wx%h' "$work/scale$scale.png")
    expected="$((753 * scale))x$((329 * scale))"
    if [ "$size" != "$expected" ]; then
        echo "FAIL: the window at scale $scale is $size, not $expected" >&2
        exit 1
    fi
    echo "scale $scale: window $size, tst_desktop passed on Xvfb"
done

# Shrink the scale-2 picture to half and compare it with scale 1, tile by tile:
# both blurred (so that font hinting does not count), the difference averaged
# over 24 x 12 tiles of about 31 x 27 pixels. The same layout stays below 0.02
# in the worst tile; a button moved by half its height gives 0.05.
convert "$work/scale2.png" -resize 753x329! "$work/scale2-half.png"
worst=$(convert \( "$work/scale1.png" -blur 0x3 \) \( "$work/scale2-half.png" -blur 0x3 \) \
    -compose difference -composite -colorspace gray -scale '24x12!' -format '%[fx:maxima]' info:)
echo "scale 2 shrunk to half against scale 1: worst tile differs by $worst (limit 0.03)"
if ! awk -v d="$worst" 'BEGIN { exit !(d != "" && d < 0.03) }'; then
    echo "FAIL: the layout at scale 2 differs from the one at scale 1" >&2
    exit 1
fi

convert "$work/scale1.png" -strip "$out/screenshot.png"
convert "$work/scale2.png" -strip "$out/screenshot-scale2.png"
echo "written: $out/screenshot.png, $out/screenshot-scale2.png"
