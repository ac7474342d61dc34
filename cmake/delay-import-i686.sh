#!/bin/sh
# delay-import-i686.sh NM AS AR IMPORT_LIBRARY DLL OUTPUT: the 32-bit form of
# delay-import.sh. dlltool 2.40 writes 32-bit delay-load libraries without the
# relocations of their address and name tables (every entry stays 0, and the
# first call jumps to address 0), so the library is written here instead, as
# one object: for every function of IMPORT_LIBRARY a jump through its address
# table entry, which starts out pointing at a stub that has the C runtime's
# __delayLoadHelper2 load the DLL from the system folder and fill the entry in.
# The descriptor is the RVA-based one (attribute 1), in .rdata$dl so that the
# descriptors of all such DLLs lie back to back.
set -eu
nm=$1 as=$2 ar=$3 library=$4 dll=$5 output=$6
id=$(echo "$dll" | tr -c 'A-Za-z0-9\n' '_')
source=$output.s
"$nm" -g --defined-only "$library" 2>/dev/null | awk '$2 == "T" { print $3 }' | sort -u | awk -v id="$id" -v dll="$dll" '
{ symbol[NR] = $1; name = substr($1, 2); sub(/@[0-9]+$/, "", name); import[NR] = name }
END {
    n = NR
    print "\t.text"
    for (i = 1; i <= n; i++) {
        printf "\t.globl %s\n%s:\n\tjmp *__imp_%s\n", symbol[i], symbol[i], symbol[i]
        printf "__dl_%s_load%d:\n\tpushl %%ecx\n\tpushl %%edx\n\tpushl $__imp_%s\n\tjmp __dl_%s_merge\n", id, i, symbol[i], id
    }
    printf "__dl_%s_merge:\n\tpushl $__DELAY_IMPORT_DESCRIPTOR_%s\n\tcall ___delayLoadHelper2@8\n", id, id
    print "\tpopl %edx\n\tpopl %ecx\n\tjmp *%eax"
    print "\t.data\n\t.p2align 2"
    printf "__dl_%s_hmod:\n\t.long 0\n__dl_%s_iat:\n", id, id
    for (i = 1; i <= n; i++)
        printf "\t.globl __imp_%s\n__imp_%s:\n\t.long __dl_%s_load%d\n", symbol[i], symbol[i], id, i
    print "\t.long 0"
    print "\t.section .rdata,\"dr\"\n\t.p2align 2"
    printf "__dl_%s_int:\n", id
    for (i = 1; i <= n; i++)
        printf "\t.rva __dl_%s_name%d\n", id, i
    print "\t.long 0"
    for (i = 1; i <= n; i++)
        printf "\t.p2align 1\n__dl_%s_name%d:\n\t.short 0\n\t.asciz \"%s\"\n", id, i, import[i]
    printf "__dl_%s_dll:\n\t.asciz \"%s\"\n", id, dll
    print "\t.section .rdata$dl,\"dr\"\n\t.p2align 2"
    printf "\t.globl __DELAY_IMPORT_DESCRIPTOR_%s\n__DELAY_IMPORT_DESCRIPTOR_%s:\n", id, id
    printf "\t.long 1\n\t.rva __dl_%s_dll\n\t.rva __dl_%s_hmod\n\t.rva __dl_%s_iat\n\t.rva __dl_%s_int\n", id, id, id, id
    print "\t.long 0\n\t.long 0\n\t.long 0"
}' >"$source"
"$as" --32 -o "$output.o" "$source"
rm -f "$output"
"$ar" rcs "$output" "$output.o"
