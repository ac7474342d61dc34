#!/bin/sh
# delay-import.sh NM DLLTOOL IMPORT_LIBRARY DLL OUTPUT: a delay-load import
# library for every function of IMPORT_LIBRARY (a mingw import library), so
# that a program loads DLL at its first call of it instead of at start.
set -eu
nm=$1 dlltool=$2 library=$3 dll=$4 output=$5
def=$output.def
{
    echo "LIBRARY $dll"
    echo "EXPORTS"
    "$nm" -g --defined-only "$library" 2>/dev/null | awk '$2 == "T" { print $3 }' | sort -u
} >"$def"
"$dlltool" --input-def "$def" --dllname "$dll" --output-delaylib "$output"
