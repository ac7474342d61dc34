#!/bin/sh
# delay-import.sh NM DLLTOOL IMPORT_LIBRARY DLL OUTPUT [PREFIX]: a delay-load
# import library for every function of IMPORT_LIBRARY (a mingw import
# library), so that a program loads DLL at its first call of it instead of at
# start. PREFIX is the leading underscore that 32-bit C names carry: the
# names are listed without it, and their "@N" (the stdcall argument size) is
# left out of the name looked up in the DLL.
set -eu
nm=$1 dlltool=$2 library=$3 dll=$4 output=$5 prefix=${6:-}
def=$output.def
{
    echo "LIBRARY $dll"
    echo "EXPORTS"
    "$nm" -g --defined-only "$library" 2>/dev/null | awk -v p="$prefix" '
        $2 == "T" { name = $3; if (p != "" && substr(name, 1, length(p)) == p) name = substr(name, length(p) + 1); print name }' |
        sort -u
} >"$def"
if [ -n "$prefix" ]; then
    "$dlltool" --kill-at --input-def "$def" --dllname "$dll" --output-delaylib "$output"
else
    "$dlltool" --input-def "$def" --dllname "$dll" --output-delaylib "$output"
fi
