#!/bin/bash
# Photographs the wizard's pages under Wine for the documentation:
# docs/wizard-*.png, and at 150% display scaling docs/wizard-*-150.png (from
# the scaling test's run at LogPixels 144). Needs a mingw build (default
# build/mingw; pass another build directory as $1).
#
#   scripts/screenshot-wizard.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT

cmake --build "$build" -j2 --target wizard_e2e_tests scaling_e2e_tests setup
source "$root/scripts/wine-env.sh"
wine_env_start
status=0
UPD_BINARY_DIR=$build UPD_SOURCE_DIR=$root UPD_SHOT_DIR="Z:${shots//\//\\}" \
    timeout 300 wine "$build/tests/win32/wizard_e2e_tests.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='TWizardScreens.*' || status=$?
[ $status -ne 0 ] || UPD_BINARY_DIR=$build UPD_SOURCE_DIR=$root UPD_SHOT_DIR="Z:${shots//\//\\}" \
    timeout 300 wine "$build/tests/win32/scaling_e2e_tests.exe" --gtest_filter='*Dpi144' || status=$?
wine_env_stop
[ $status -eq 0 ] || { echo "screenshot run failed ($status)" >&2; exit $status; }

# The wizard stands in the middle of the 1024x768 screen; keep it and the
# boxes that open over it (half as large again at 150%).
for bmp in "$shots"/*.bmp; do
    name=$(basename "$bmp" .bmp)
    crop=640x440
    case $name in *-150) crop=960x660 ;; esac
    convert "$bmp" -gravity center -crop $crop+0+0 +repage "$root/docs/$name.png"
    echo "docs/$name.png"
done
