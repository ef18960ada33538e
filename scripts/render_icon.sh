#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later

# Renders the Stockbook program icon from its hand-written SVG source.
#
# Needs these Debian packages (not needed to build the program, since the
# rendered files are committed):
#   librsvg2-bin   rsvg-convert, renders the SVG
#   imagemagick    convert (8-bit palette PNGs) and identify (check)
#   python3        runs scripts/pack_ico.py (standard library only)
#   apt-get install -y librsvg2-bin imagemagick python3
#
# Source:  packaging/icon/stockbook.svg (48x48 design, used for any size
#          without its own file) and packaging/icon/stockbook-N.svg, a
#          hand-tuned pixel-grid version for size N (16, 24, 32).
# Output in packaging/icon/:
#   stockbook-N.png        N = 16 24 32 48, 32-bit RGBA PNG
#   stockbook-N-8bit.png   same picture, 8-bit palette PNG (transparency in tRNS)
#   stockbook.ico          all eight PNGs in one ICO (scripts/pack_ico.py)
#
# Usage: scripts/render_icon.sh   (from anywhere; paths are relative to the repo)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
icon_dir=$repo/packaging/icon
sizes=(16 24 32 48)

for tool in rsvg-convert convert identify python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "render_icon.sh: '$tool' not found; apt-get install -y librsvg2-bin imagemagick python3" >&2
    exit 1
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ico_inputs=()
for n in "${sizes[@]}"; do
  src=$icon_dir/stockbook-$n.svg
  [ -f "$src" ] || src=$icon_dir/stockbook.svg
  rgba=$icon_dir/stockbook-$n.png
  pal=$icon_dir/stockbook-$n-8bit.png

  rsvg-convert --width "$n" --height "$n" --format png --output "$tmp/raw-$n.png" "$src"
  # -strip drops timestamps and other metadata so re-renders are byte-stable.
  convert "$tmp/raw-$n.png" -strip PNG32:"$rgba"
  # 256-colour palette version; alpha becomes on/off, kept in the tRNS chunk.
  convert "$rgba" -strip -define png:bit-depth=8 PNG8:"$pal"

  echo "rendered $n px from ${src#"$repo"/}"
  ico_inputs+=("$pal" "$rgba")
done

python3 "$repo/scripts/pack_ico.py" "$icon_dir/stockbook.ico" "${ico_inputs[@]}"

# ---- Parse everything back -------------------------------------------------
# Each PNG: right size, right colour type (6 = RGBA, 3 = palette) at 8 bits.
python3 - "$icon_dir" "${sizes[@]}" <<'PY'
import os, sys
sys.path.insert(0, os.path.join(os.path.dirname(sys.argv[1]), "..", "scripts"))
from pack_ico import png_info
icon_dir, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
bad = False
for n in sizes:
    for name, ctype, bpp in ((f"stockbook-{n}.png", 6, 32),
                             (f"stockbook-{n}-8bit.png", 3, 8)):
        path = os.path.join(icon_dir, name)
        with open(path, "rb") as f:
            info = png_info(f.read(), path)
        ok = (info["width"], info["height"]) == (n, n) and \
             info["colour_type"] == ctype and info["bits_per_pixel"] == bpp
        if not ok:
            print(f"render_icon.sh: {name}: got {info}", file=sys.stderr)
            bad = True
sys.exit(1 if bad else 0)
PY

# The ICO directory, checked by our own parser...
python3 "$repo/scripts/pack_ico.py" --check "$icon_dir/stockbook.ico" --expect $((2 * ${#sizes[@]}))

# ...and by ImageMagick, which must also find every image.
listing=$(identify "$icon_dir/stockbook.ico")
echo "$listing"
frames=$(printf '%s\n' "$listing" | grep -c .)
if [ "$frames" -ne $((2 * ${#sizes[@]})) ]; then
  echo "render_icon.sh: identify found $frames images in stockbook.ico" >&2
  exit 1
fi
echo "ok: stockbook.ico holds $frames images"
