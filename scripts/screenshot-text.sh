#!/usr/bin/env bash
# Redraws docs/text-control.png: the text display control in a window, with a
# heading, a bold word, an indented paragraph and a two-line link under the
# mouse, drawn by the demo program of the mingw build under the project's Wine
# environment.
#   scripts/screenshot-text.sh [MINGW_BUILD_DIR]     (default build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/mingw}
demo=$build/tests/text/qvtparagraf_demo.exe
[ -f "$demo" ] || cmake --build "$build" --target qvtparagraf_demo
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
wine_env_start
status=0
timeout 60 wine "$demo" "$(winepath -w "$out/text-control.bmp" 2>/dev/null)" || status=$?
wine_env_stop
[ "$status" -eq 0 ] || { echo "screenshot-text: demo failed ($status)" >&2; exit 1; }
convert "$out/text-control.bmp" -strip "$root/docs/text-control.png"
echo "docs/text-control.png"
