#!/usr/bin/env bash
# Renders each page of the main window and both dialogs, offscreen and with the style sheet
# applied, into build/ui-preview/ (or the folder given).
#
#   scripts/render-ui.sh [OUTPUT_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build/ui-preview}"
"$root/scripts/setup.sh"
cmake --build "$root/build" --target halvern-ui-preview
QT_QPA_PLATFORM=offscreen "$root/build/tests/halvern-ui-preview" "$out"
