#!/usr/bin/env bash
# Renders the real window against the demo's simulated adapter and catalog server, offscreen:
# every page, the dialogs and Qt's file dialog in the five languages, at 100 % and 200 %
# scaling, into build/ui-preview/{100,200}/ (or the folder given), with one contact sheet of
# them all. Also refreshes the two pictures the README opens with, under docs/.
#
#   scripts/render-ui.sh [OUTPUT_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath -m "${1:-$root/build/ui-preview}")"
"$root/scripts/setup.sh" --targets halvern-ui-preview
rm -rf "$out"
mkdir -p "$out"
for scale in 100 200; do
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR="$(awk "BEGIN { print $scale / 100 }")" \
        "$root/build/demo/halvern-ui-preview" "$out/$scale" >"$out/render-$scale.log" 2>&1 || {
        tail -20 "$out/render-$scale.log" >&2
        exit 1
    }
done
# One sheet: every picture at 100 %, each 200 % one beside it shrunk to the same size. Shrunk
# one at a time first: read whole, 164 pictures are more than ImageMagick's memory policy allows.
(cd "$out" && for scale in 100 200; do
    mkdir -p "sheet/$scale" && mogrify -path "sheet/$scale" -thumbnail 260x354 "$scale"/*.png
done && cd sheet && montage -label '%d/%f' -pointsize 11 -geometry 260x354+4+4 -tile 12x \
    100/*.png 200/*.png ../contact-sheet.png)
cp "$out/100/en-connected.png" "$root/docs/window-connected.png"
cp "$out/100/en-updating.png" "$root/docs/window-updating.png"
echo "rendered into $out; contact sheet $out/contact-sheet.png"
