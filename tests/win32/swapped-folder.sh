#!/bin/bash
# The Linux side of the folder tests of folders_e2e_tests: while they run,
# makes and removes the link C:\Pravion -> C:\Altul when a test asks for it
# (C:\upd-atomic\link.request holding "make" or "remove"), since a Windows
# program under Wine cannot make one. The renames stay with the test, a
# Windows program, so that they meet the wizard's share modes.
#
#   swapped-folder.sh <wine-run> <folders_e2e_tests.exe>
set -uo pipefail
run=$1
exe=$2
: "${WINEPREFIX:?swapped-folder: no Wine prefix}"
c="$WINEPREFIX/drive_c"
request="$c/upd-atomic/link.request"
stop=$(mktemp "${TMPDIR:-/tmp}/swapped-folder.XXXXXX")

(
    while [ -e "$stop" ]; do
        if [ -f "$request" ]; then
            case "$(cat "$request")" in
            make) [ -e "$c/Pravion" ] || ln -s "$c/Altul" "$c/Pravion" ;;
            remove) [ -L "$c/Pravion" ] && rm -f "$c/Pravion" ;;
            esac
            rm -f "$request"
        fi
        sleep 0.05
    done
) &
watcher=$!

UPD_LINK_HELPER=1 "$run" "$exe" --gtest_filter='TFoldersE2ETest.*'
rc=$?
rm -f "$stop"
wait "$watcher"
# Whatever a failed test left: the installation folder back in its place.
if [ -L "$c/Pravion" ]; then
    rm -f "$c/Pravion"
    [ -d "$c/Pravion.mutat" ] && mv "$c/Pravion.mutat" "$c/Pravion"
fi
exit "$rc"
