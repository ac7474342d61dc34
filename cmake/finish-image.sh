#!/bin/sh
# finish-image.sh IMAGE NM [STRIP]: what GNU ld (2.40) cannot do for the wizard.
#   - With STRIP: strips the image (after the symbol below has been looked up).
#   - Points the load configuration directory at the symbol _load_config_used
#     (app/LoadConfig_win32.cpp), which carries the flags for the image's own
#     imports.
#   - Points the delay import directory at the delay-load descriptors that
#     dlltool's libraries bring (ld leaves that directory empty), so that tools
#     see which DLLs the image loads later.
#   - Marks the image to be copied to the swap file and run from there when it
#     is started from removable media or from the network
#     (IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP), so
#     that changing the diskette it runs from cannot take pages of the running
#     program away.
set -eu
image=$1 nm=$2 strip=${3:-}

u32() { od -An -tu4 -j"$1" -N4 "$image" | tr -d ' '; }
u16() { od -An -tu2 -j"$1" -N2 "$image" | tr -d ' '; }
# put BYTES OFFSET VALUE: writes VALUE little-endian.
put() {
    bytes=$1 at=$2 value=$3 text="" i=0
    while [ "$i" -lt "$bytes" ]; do
        text="$text$(printf '\\%03o' $(((value >> (8 * i)) & 255)))"
        i=$((i + 1))
    done
    printf "$text" | dd of="$image" bs=1 seek="$at" conv=notrunc status=none
}

pe=$(u32 60)
[ "$(od -An -c -j"$pe" -N2 "$image" | tr -d ' ')" = PE ] || { echo "$image: not a PE image" >&2; exit 1; }
optional=$((pe + 24))
# PE32+ (64-bit) or PE32 (32-bit): where the data directories begin, the size
# of the load configuration structure that app/LoadConfig_win32.cpp defines,
# and the leading underscore that 32-bit C names carry (dlltool's descriptor
# names have none of their own).
case $(u16 $optional) in
523) directories=$((optional + 112)) config_size=112 prefix=""
     base=$(od -An -tu8 -j$((optional + 24)) -N8 "$image" | tr -d ' ') ;;
267) directories=$((optional + 96)) config_size=64 prefix="_"
     base=$(u32 $((optional + 28))) ;;
*) echo "$image: not a PE32 or PE32+ image" >&2; exit 1 ;;
esac

symbol=$("$nm" "$image" | awk -v name="${prefix}_load_config_used" '$3 == name { print $1 }')
[ -n "$symbol" ] || { echo "$image: no _load_config_used" >&2; exit 1; }
rva=$((0x$symbol - base))

# The descriptors lie back to back, 32 bytes each.
delay=$("$nm" "$image" | awk '$3 ~ /^__DELAY_IMPORT_DESCRIPTOR_/ { print $1 }' | sort)
delay_rva=0 delay_size=0
if [ -n "$delay" ]; then
    first=$(echo "$delay" | head -1) last=$(echo "$delay" | tail -1) count=$(echo "$delay" | wc -l)
    [ $((0x$last - 0x$first)) -eq $(((count - 1) * 32)) ] || { echo "$image: scattered delay descriptors" >&2; exit 1; }
    delay_rva=$((0x$first - base)) delay_size=$((count * 32))
fi

if [ -n "$strip" ]; then
    "$strip" "$image"
fi

put 2 $((pe + 4 + 18)) $(($(u16 $((pe + 4 + 18))) | 0x0C00))
put 4 $((directories + 10 * 8)) "$rva"
put 4 $((directories + 10 * 8 + 4)) "$config_size"
put 4 $((directories + 13 * 8)) "$delay_rva"
put 4 $((directories + 13 * 8 + 4)) "$delay_size"
