#!/bin/bash
# Renders the icons in resources/icon/ from their SVG sources in resources/svg/ (needs rsvg-convert
# from librsvg2-bin, and python3 for the .ico container). The results are committed; run this only
# after changing an SVG.
set -euo pipefail
cd "$(dirname "$0")/../resources"
rsvg-convert -w 32 -h 32 svg/Tray.svg -o icon/Tray.png
rsvg-convert -w 64 -h 64 svg/About.svg -o icon/About.png
rsvg-convert -w 16 -h 16 svg/Sync.svg -o icon/Sync.png
rsvg-convert -w 16 -h 16 svg/Shield.svg -o icon/Shield.png
rsvg-convert -w 256 -h 256 svg/Tray.svg -o tarnowlock.png
tmp=$(mktemp -d)
for size in 16 24 32 48 256; do
    rsvg-convert -w $size -h $size svg/Tray.svg -o "$tmp/$size.png"
done
# An .ico holding the five sizes as PNG images.
python3 - "$tmp" Tray.ico <<'PY'
import struct, sys
folder, target = sys.argv[1], sys.argv[2]
sizes = [16, 24, 32, 48, 256]
images = [open(f"{folder}/{s}.png", "rb").read() for s in sizes]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, data in zip(sizes, images):
    dim = 0 if size == 256 else size
    out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open(target, "wb").write(out + b"".join(images))
PY
rm -r "$tmp"
