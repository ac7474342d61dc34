#!/bin/bash
# Links planted in the Wine prefix's temporary folder under every name the
# wizard could choose there, made from Linux (a plain link stands in for the
# junctions and object-manager links of Windows): half lead to files that do
# not exist in C:\windows\system32, half to a file that does. Then a whole
# update runs (the one test of elevated_e2e_tests that waits for the links),
# and nothing may have been created, changed or deleted through them.
#
#   planted-links.sh <wine-run> <elevated_e2e_tests.exe>
set -uo pipefail
run=$1
exe=$2
: "${WINEPREFIX:?planted-links: no Wine prefix}"
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
system="$WINEPREFIX/drive_c/windows/system32"
existing="$system/upd-planted-existing.dll"
out=$(mktemp "${TMPDIR:-/tmp}/planted-links.XXXXXX")
mkdir -p "$temp"

names=(Actualizare.log)
for n in $(seq 1 20); do
    names+=("PatchTotal_$n.bin" "Patched_$n.bin" "Patch_$n.Patch")
done

cleanup() {
    for name in "${names[@]}"; do
        [ -L "$temp/$name" ] && rm -f "$temp/$name"
    done
    rm -f "$system"/upd-planted-* "$out"
}
trap cleanup EXIT

printf 'continutul de dinainte\n' >"$existing"
touch -d '2026-01-01 00:00:00' "$existing"
before=$(stat -c '%s %Y %a' "$existing"; sha256sum <"$existing")
i=0
for name in "${names[@]}"; do
    rm -f "$temp/$name"
    if [ $((i % 2)) -eq 0 ]; then
        ln -s "$system/upd-planted-$name" "$temp/$name"
    else
        ln -s "$existing" "$temp/$name"
    fi
    i=$((i + 1))
done

UPD_PLANTED_LINKS=1 "$run" "$exe" \
    --gtest_filter=TElevatedRunE2ETest.LinksPlantedInTheTemporaryFolderAreNotFollowed >"$out" 2>&1
rc=$?
cat "$out"
failed=0
if [ "$rc" -ne 0 ] || ! grep -q '\[  PASSED  \] 1 test' "$out"; then
    echo "planted-links: the update did not run to its end (status $rc)"
    failed=1
fi
created=$(find "$system" -maxdepth 1 -name 'upd-planted-*' ! -name 'upd-planted-existing.dll')
if [ -n "$created" ]; then
    echo "planted-links: created through a link: $created"
    failed=1
fi
after=$(stat -c '%s %Y %a' "$existing" 2>/dev/null; sha256sum <"$existing" 2>/dev/null)
if [ "$before" != "$after" ]; then
    echo "planted-links: the existing file changed through a link ($before -> $after)"
    failed=1
fi
i=0
for name in "${names[@]}"; do
    if [ $((i % 2)) -eq 0 ]; then want="$system/upd-planted-$name"; else want="$existing"; fi
    if [ "$(readlink "$temp/$name")" != "$want" ]; then
        echo "planted-links: the link $name was removed or replaced"
        failed=1
    fi
    i=$((i + 1))
done
[ "$failed" -eq 0 ] && echo "planted-links: ${#names[@]} links, nothing created, changed or deleted through them"
exit "$failed"
