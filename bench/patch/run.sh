#!/usr/bin/env bash
# Patch benchmark: updkit mkpatch/unpatch against xdelta3, bsdiff and zstd on
# real Windows executables in several released versions.
#
#   bench/patch/run.sh [--write]     (--write also replaces docs/benchmarks-patch.md)
#   bench/patch/run.sh --apply-only [--write-apply]
#                                    (apply times only; --write-apply replaces docs/benchmarks-apply.md)
#
# UPDKIT_BEFORE names an earlier updkit build whose patches are made in the same
# run, so that the figures before a change sit beside the new ones measured
# under the same load. UPDKIT_BENCH_ONLY (names separated by spaces) limits the
# run to some series while iterating.
#
# The corpus is fetched once with `npm pack --ignore-scripts` into a cache
# outside the repository (UPDKIT_BENCH_CACHE, default ~/.cache/updkit-bench) and
# every tarball is checked against bench/patch/corpus.sha256. Needs the network
# on the first run, a native build of updkit (UPDKIT, default build/native) and
# the Debian packages xdelta3, bsdiff and zstd.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cache=${UPDKIT_BENCH_CACHE:-$HOME/.cache/updkit-bench}
updkit=${UPDKIT:-$root/build/native/tools/updkit/updkit}
before=${UPDKIT_BEFORE:-}
only=${UPDKIT_BENCH_ONLY:-}
write=0
[ "${1:-}" = "--write" ] && write=1

[ -x "$updkit" ] || { echo "run.sh: no updkit at $updkit (set UPDKIT)" >&2; exit 1; }
[ -z "$before" ] || [ -x "$before" ] || { echo "run.sh: no updkit at $before (UPDKIT_BEFORE)" >&2; exit 1; }
for tool in xdelta3 bsdiff bspatch zstd npm /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (scripts/setup-deps)" >&2; exit 1; }
done

# series|package|file inside the package|versions, oldest first
series=(
    "7za|7zip-bin|package/win/x64/7za.exe|4.0.2 4.1.0 5.0.3 5.2.0"
    "dprint|@dprint/win32-x64|package/dprint.exe|0.47.4 0.48.0 0.49.1 0.50.1 0.50.2"
    "esbuild|@esbuild/win32-x64|package/esbuild.exe|0.25.9 0.25.10 0.25.11 0.25.12"
    "lightningcss|lightningcss-win32-x64-msvc|package/lightningcss.win32-x64-msvc.node|1.30.1 1.30.2 1.31.0 1.31.1"
    "rollup|@rollup/rollup-win32-x64-msvc|package/rollup.win32-x64-msvc.node|4.68.6 4.68.7 4.68.8 4.68.9"
    "libvips|@img/sharp-win32-x64|package/lib/libvips-42.dll|0.34.2 0.34.3 0.34.4 0.34.5"
    "watcher|@parcel/watcher-win32-x64|package/watcher.node|2.5.0 2.5.1 2.5.4 2.5.6"
)

mkdir -p "$cache/tgz" "$cache/files"
fetch() { # package version -> path of the tarball
    local package=$1 version=$2
    local tgz="$cache/tgz/$(echo "$package" | tr -d @ | tr / -)-$version.tgz"
    if [ ! -f "$tgz" ]; then
        local tmp
        tmp=$(mktemp -d "$cache/tmp.XXXXXX")
        (cd "$tmp" && npm pack --ignore-scripts --silent "$package@$version" >/dev/null)
        mv "$tmp"/*.tgz "$tgz"
        rmdir "$tmp"
    fi
    local want
    want=$(awk -v f="$(basename "$tgz")" '$2 == f { print $1 }' "$here/corpus.sha256")
    local got
    got=$(sha256sum "$tgz" | cut -d' ' -f1)
    if [ -z "$want" ]; then
        echo "run.sh: $(basename "$tgz") is not in corpus.sha256 (sha256 $got)" >&2
        exit 1
    fi
    [ "$want" = "$got" ] || { echo "run.sh: sha256 mismatch for $tgz" >&2; exit 1; }
    echo "$tgz"
}

extract() { # name version package inner -> path of the executable
    local out="$cache/files/$1-$2.exe"
    if [ ! -f "$out" ]; then
        local tgz
        tgz=$(fetch "$3" "$2")
        tar -xzf "$tgz" -O "$4" >"$out.tmp"
        mv "$out.tmp" "$out"
    fi
    echo "$out"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure OUTVAR command...: runs the command, sets OUTVAR to "seconds peakKB"
measure() {
    local var=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
        cat "$work/stderr" >&2
        echo "run.sh: failed: $*" >&2
        exit 1
    }
    printf -v "$var" '%s' "$(tail -n1 "$work/time")"
}

same() { cmp -s "$1" "$2" || { echo "run.sh: $3 did not rebuild the new file" >&2; exit 1; }; }

# ---- Apply timing ----------------------------------------------------------
# unpatch and zstd -d run UPDKIT_APPLY_RUNS times each (default 5), taking
# turns (updkit, zstd, updkit, zstd, ...), so that a change of load on the
# machine hits both alike; the time reported is the median of a tool's runs,
# its memory the largest peak RSS of those runs.
apply_runs=${UPDKIT_APPLY_RUNS:-5}
apply_only=0 write_apply=0
for arg in "$@"; do
    case $arg in
    --apply-only) apply_only=1 ;;
    --write-apply) apply_only=1 write_apply=1 ;;
    esac
done

# timed SECONDSVAR KBVAR command...: one run; wall seconds and peak RSS in KB
timed() {
    local tvar=$1 mvar=$2
    shift 2
    local t0=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$work/apply-time" "$@" >/dev/null 2>"$work/apply-stderr" || {
        cat "$work/apply-stderr" >&2
        echo "run.sh: failed: $*" >&2
        exit 1
    }
    local t1=$EPOCHREALTIME
    printf -v "$tvar" '%s' "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')"
    printf -v "$mvar" '%s' "$(tail -n1 "$work/apply-time")"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.4f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# apply_medians OUTVAR old new patch.upd patch.zst [earlier-updkit]: sets OUTVAR
# to "unpatch-s unpatch-KB zstd-s zstd-KB [earlier-s earlier-KB]". Every run
# writes a new file: replacing one costs a flush on some file systems.
apply_medians() {
    local var=$1 old=$2 new=$3 upd=$4 zst=$5 earlier=${6:-}
    local -a tu=() tz=() te=()
    local mu=0 mz=0 me=0 t m r
    for ((r = 0; r < apply_runs; ++r)); do
        if [ -n "$earlier" ]; then
            rm -f "$work/r.upd"
            timed t m "$earlier" unpatch "$upd" "$old" 0 "$work/r.upd"
            same "$new" "$work/r.upd" "updkit (earlier decoder)"
            te+=("$t") me=$(larger "$m" "$me")
        fi
        rm -f "$work/r.upd"
        timed t m "$updkit" unpatch "$upd" "$old" 0 "$work/r.upd"
        same "$new" "$work/r.upd" updkit
        tu+=("$t") mu=$(larger "$m" "$mu")
        rm -f "$work/r.zst"
        timed t m zstd -q -f -d --long=27 --patch-from="$old" "$zst" -o "$work/r.zst"
        same "$new" "$work/r.zst" zstd
        tz+=("$t") mz=$(larger "$m" "$mz")
    done
    local out="$(median "${tu[@]}") $mu $(median "${tz[@]}") $mz"
    [ -z "$earlier" ] || out="$out $(median "${te[@]}") $me"
    printf -v "$var" '%s' "$out"
}

# inflated_size patch.upd: the bytes of its patch image
inflated_size() { python3 -c 'import sys, zlib; print(len(zlib.decompress(open(sys.argv[1], "rb").read())))' "$1"; }

# apply_report: the apply benchmark alone, every single-version pair; zstd's
# patches are kept in the cache, as making them takes minutes.
apply_report() {
    local rows="$work/apply-rows.md" worst_now=0 worst_before=0 worst_over=-1000
    : >"$rows"
    mkdir -p "$cache/zst"
    local entry name package inner versions i old new label zst res
    for entry in "${series[@]}"; do
        IFS='|' read -r name package inner versions <<<"$entry"
        if [ -n "$only" ] && ! [[ " $only " == *" $name "* ]]; then
            continue
        fi
        local -a files=() vlist=($versions)
        for v in $versions; do
            files+=("$(extract "$name" "$v" "$package" "$inner")")
        done
        for ((i = 1; i < ${#files[@]}; ++i)); do
            old=${files[i - 1]} new=${files[i]}
            label="$name ${vlist[i - 1]} → ${vlist[i]}"
            "$updkit" mkpatch --old "$old" --new "$new" -o "$work/p.upd"
            zst="$cache/zst/$name-${vlist[i - 1]}-${vlist[i]}.zst"
            if [ ! -f "$zst" ]; then
                zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o "$zst.tmp" 2>/dev/null
                mv "$zst.tmp" "$zst"
            fi
            apply_medians res "$old" "$new" "$work/p.upd" "$zst" "$before"
            local ut um zt zm bt bm
            read -r ut um zt zm bt bm <<<"$res"
            local image over now_ratio before_cells=""
            image=$(inflated_size "$work/p.upd")
            over=$(awk -v k="$um" -v i="$image" 'BEGIN { printf "%.1f", (k * 1024 - i) / 1048576 }')
            worst_over=$(larger "$over" "$worst_over")
            now_ratio=$(ratio "$ut" "$zt")
            worst_now=$(larger "$now_ratio" "$worst_now")
            if [ -n "$before" ]; then
                worst_before=$(larger "$(ratio "$bt" "$zt")" "$worst_before")
                before_cells="${bt}s / $(mb "$bm") MB | $(ratio "$bt" "$zt") | "
            fi
            printf '| %s | %s | %s | %s | %s%ss / %s MB | %s | %ss / %s MB | %s |\n' "$label" "$(size "$new")" \
                "$(size "$work/p.upd")" "$image" "$before_cells" "$ut" "$(mb "$um")" "$now_ratio" "$zt" "$(mb "$zm")" \
                "$over" >>"$rows"
        done
    done
    local report="$work/apply.md"
    {
        echo "# Apply benchmark"
        echo
        echo "Produced by \`bench/patch/run.sh --apply-only\` on $(date -u +%Y-%m-%d) ($(nproc) cores, $(uname -m)), on the"
        echo "single-version pairs of the patch benchmark (docs/benchmarks-patch.md names the corpus)."
        echo "Each decoder rebuilt every new file $apply_runs times, the tools taking turns run by run"
        echo "(${before:+earlier updkit, }updkit unpatch, zstd -d --long=27 --patch-from), so that the load of the machine falls on"
        echo "all alike. Times are the median wall-clock seconds of a whole process; memory is the largest peak RSS."
        echo "Image is the inflated patch image; \"over image\" is peak RSS minus the image, in MB (the goal is at most 8)."
        if [ -n "$before" ]; then
            echo "The earlier decoder is $(basename "$(dirname "$before")")/$(basename "$before"), applying the same patches."
        fi
        echo
        if [ -n "$before" ]; then
            echo "| Pair | New file | Patch | Image | unpatch before | before/zstd | unpatch now | now/zstd | zstd -d | over image (MB) |"
            echo "|---|---|---|---|---|---|---|---|---|---|"
        else
            echo "| Pair | New file | Patch | Image | unpatch | unpatch/zstd | zstd -d | over image (MB) |"
            echo "|---|---|---|---|---|---|---|---|"
        fi
        cat "$rows"
        echo
        echo "Largest unpatch/zstd -d time ratio: $worst_now${before:+ (before: $worst_before)};"
        echo "largest peak RSS above the inflated image: $worst_over MB."
    } >"$report"
    cat "$report"
    if [ "$write_apply" = 1 ]; then
        cp "$report" "$root/docs/benchmarks-apply.md"
    fi
}
size() { stat -c %s "$1"; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# encode_times OLD NEW: the building times compared are the fastest of
# UPDKIT_BENCH_ENCODE_RUNS (default 2) rounds of updkit mkpatch and zstd -19 run
# in turn, so that a burst of load from other work on the machine does not
# land on one tool only; sets mk_fastest and ze_fastest (seconds).
encode_runs=${UPDKIT_BENCH_ENCODE_RUNS:-2}
encode_times() {
    mk_fastest='' ze_fastest=''
    local k t
    for ((k = 0; k < encode_runs; ++k)); do
        measure t "$updkit" mkpatch --old "$1" --new "$2" -o "$work/e.upd"
        mk_fastest=$(awk -v a="${t%% *}" -v b="$mk_fastest" 'BEGIN { print (b == "" || a < b ? a : b) }')
        measure t zstd -q -f -19 --long=27 --patch-from="$1" "$2" -o "$work/e.zst"
        ze_fastest=$(awk -v a="${t%% *}" -v b="$ze_fastest" 'BEGIN { print (b == "" || a < b ? a : b) }')
    done
}

table="$work/table.md"
multi="$work/multi.md"
prior="$work/prior.md"
: >"$table"
: >"$multi"
: >"$prior"
total_updkit=0 total_xdelta=0 total_bsdiff=0 total_zstd=0 total_before=0
worst_vs_xdelta=0 worst_apply_vs_zstd=0 worst_make_vs_zstd=0 worst_before_vs_xdelta=0
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }

if [ "$apply_only" = 1 ]; then
    apply_report
    exit 0
fi

for entry in "${series[@]}"; do
    IFS='|' read -r name package inner versions <<<"$entry"
    if [ -n "$only" ] && ! [[ " $only " == *" $name "* ]]; then
        continue
    fi
    files=()
    for v in $versions; do
        files+=("$(extract "$name" "$v" "$package" "$inner")")
    done
    vlist=($versions)
    for ((i = 1; i < ${#files[@]}; ++i)); do
        old=${files[i - 1]} new=${files[i]}
        label="$name ${vlist[i - 1]} → ${vlist[i]}"
        encode_times "$old" "$new"
        measure mk "$updkit" mkpatch --old "$old" --new "$new" -o "$work/p.upd"
        measure xe xdelta3 -e -9 -S djw -f -s "$old" "$new" "$work/p.xd3"
        measure xd xdelta3 -d -f -s "$old" "$work/p.xd3" "$work/r.xd3"
        same "$new" "$work/r.xd3" xdelta3
        measure be bsdiff "$old" "$new" "$work/p.bsd"
        measure bd bspatch "$old" "$work/r.bsd" "$work/p.bsd"
        same "$new" "$work/r.bsd" bspatch
        measure ze zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o "$work/p.zst"
        apply_medians ap "$old" "$new" "$work/p.upd" "$work/p.zst"
        read -r unt unm zdt zdm <<<"$ap"
        un="$unt $unm" zd="$zdt $zdm"
        su=$(size "$work/p.upd") sx=$(size "$work/p.xd3") sb=$(size "$work/p.bsd") sz=$(size "$work/p.zst")
        total_updkit=$((total_updkit + su)) total_xdelta=$((total_xdelta + sx))
        total_bsdiff=$((total_bsdiff + sb)) total_zstd=$((total_zstd + sz))
        read -r mkt mkm <<<"$mk"; read -r unt unm <<<"$un"
        read -r xet xem <<<"$xe"; read -r xdt xdm <<<"$xd"
        read -r bet bem <<<"$be"; read -r bdt bdm <<<"$bd"
        read -r zet zem <<<"$ze"; read -r zdt zdm <<<"$zd"
        r=$(ratio "$su" "$sx")
        mkt=$(awk -v a="$mkt" -v b="$mk_fastest" 'BEGIN { print (a < b ? a : b) }')
        zet=$(awk -v a="$zet" -v b="$ze_fastest" 'BEGIN { print (a < b ? a : b) }')
        worst_vs_xdelta=$(larger "$r" "$worst_vs_xdelta")
        worst_apply_vs_zstd=$(larger "$(ratio "$unt" "$zdt")" "$worst_apply_vs_zstd")
        makeratio=$(ratio "$mkt" "$zet")
        worst_make_vs_zstd=$(larger "$makeratio" "$worst_make_vs_zstd")
        printf '| %s | %s | %s | %s | %s | %s | %s | %ss / %s MB | %s | %ss / %s MB | %ss / %s MB | %ss / %s MB | %ss / %s MB | %ss / %s MB |\n' \
            "$label" "$(size "$new")" "$su" "$sx" "$sb" "$sz" "$r" \
            "$mkt" "$(mb "$mkm")" "$makeratio" "$unt" "$(mb "$unm")" "$xdt" "$(mb "$xdm")" "$bdt" "$(mb "$bdm")" \
            "$zdt" "$(mb "$zdm")" "$zet" "$(mb "$zem")" >>"$table"
        if [ -n "$before" ]; then
            measure mkb "$before" mkpatch --old "$old" --new "$new" -o "$work/b.upd"
            # A patch of the earlier encoder must still apply with this decoder.
            "$updkit" unpatch "$work/b.upd" "$old" 0 "$work/r.upd" >/dev/null
            same "$new" "$work/r.upd" "updkit (earlier patch)"
            sp=$(size "$work/b.upd")
            total_before=$((total_before + sp))
            read -r mbt mbm <<<"$mkb"
            rb=$(ratio "$sp" "$sx")
            worst_before_vs_xdelta=$(larger "$rb" "$worst_before_vs_xdelta")
            printf '| %s | %s | %s | %s | %s | %s | %ss | %ss | %s |\n' "$label" "$sp" "$su" "$(ratio "$su" "$sp")" \
                "$rb" "$r" "$mbt" "$mkt" "$(ratio "$mbt" "$zet")" >>"$prior"
        fi
    done
    # One patch for the three versions before the newest.
    n=${#files[@]}
    if [ "$n" -ge 4 ]; then
        new=${files[n - 1]}
        olds=("${files[n - 4]}" "${files[n - 3]}" "${files[n - 2]}")
        for tool in "$updkit" ${before:+"$before"}; do
            sum=0 largest=0
            for o in "${olds[@]}"; do
                "$tool" mkpatch --old "$o" --new "$new" -o "$work/s.upd"
                s=$(size "$work/s.upd")
                sum=$((sum + s))
                [ "$s" -gt "$largest" ] && largest=$s
            done
            "$tool" mkpatch --old "${olds[0]}" --old "${olds[1]}" --old "${olds[2]}" --new "$new" -o "$work/m.upd"
            for k in 0 1 2; do
                "$updkit" unpatch "$work/m.upd" "${olds[k]}" "$k" "$work/r.upd"
                same "$new" "$work/r.upd" "updkit (3 versions)"
            done
            m=$(size "$work/m.upd")
            which=now
            [ "$tool" = "$updkit" ] || which=before
            printf '| %s %s, %s, %s → %s | %s | %s | %s | %s | %s | %s |\n' "$name" "${vlist[n - 4]}" "${vlist[n - 3]}" \
                "${vlist[n - 2]}" "${vlist[n - 1]}" "$which" "$m" "$sum" "$largest" \
                "$(ratio "$m" "$sum")" "$(ratio "$m" "$largest")" >>"$multi"
        done
    fi
done

report="$work/report.md"
{
    echo "# Patch benchmark"
    echo
    echo "Produced by \`bench/patch/run.sh\` on $(date -u +%Y-%m-%d) ($(nproc) cores, $(uname -m))."
    echo "Corpus: real Windows executables and DLLs from npm packages, consecutive released versions:"
    echo "7zip-bin win/x64/7za.exe, @dprint/win32-x64 dprint.exe, @esbuild/win32-x64 esbuild.exe,"
    echo "lightningcss-win32-x64-msvc lightningcss.win32-x64-msvc.node, @rollup/rollup-win32-x64-msvc"
    echo "rollup.win32-x64-msvc.node, @img/sharp-win32-x64 lib/libvips-42.dll, @parcel/watcher-win32-x64 watcher.node."
    echo "Settings: xdelta3 -9 -S djw (decode -d), bsdiff/bspatch, zstd -19 --long=27 --patch-from (decode -d)."
    echo "Times are wall-clock seconds, memory is peak RSS, one run each; every tool runs on the same pair one after"
    echo "the other, so the ratios hold under the same load. updkit unpatch and zstd -d are the median of $apply_runs runs"
    echo "each, taken in turns (their memory the largest peak RSS); docs/benchmarks-apply.md has the apply figures alone."
    echo
    echo "## Single-version patches (bytes)"
    echo
    echo "| Pair | New file | updkit | xdelta3 | bsdiff | zstd | updkit/xdelta3 | updkit mkpatch | mkpatch/zstd encode | updkit unpatch | xdelta3 -d | bspatch | zstd -d | zstd -19 encode |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    cat "$table"
    echo "| **Total** | | $total_updkit | $total_xdelta | $total_bsdiff | $total_zstd | $(ratio "$total_updkit" "$total_xdelta") | | | | | | | |"
    echo
    echo "Corpus total updkit/zstd: $(ratio "$total_updkit" "$total_zstd");"
    echo "largest single-pair updkit/xdelta3: $worst_vs_xdelta; largest mkpatch/zstd -19 encode time ratio: $worst_make_vs_zstd;"
    echo "largest unpatch/zstd -d time ratio: $worst_apply_vs_zstd."
    if [ -n "$before" ]; then
        echo
        echo "## Before this encoder (same run)"
        echo
        echo "The earlier updkit ($(basename "$(dirname "$before")")/$(basename "$before")) made its patches in the same run; each"
        echo "of them was applied by the current decoder and rebuilt the new file."
        echo
        echo "| Pair | updkit before | updkit now | now/before | before/xdelta3 | now/xdelta3 | mkpatch before | mkpatch now | before mkpatch/zstd encode |"
        echo "|---|---|---|---|---|---|---|---|---|"
        cat "$prior"
        echo "| **Total** | $total_before | $total_updkit | $(ratio "$total_updkit" "$total_before") | $(ratio "$total_before" "$total_xdelta") | $(ratio "$total_updkit" "$total_xdelta") | | | |"
        echo
        echo "Before: corpus total updkit/zstd $(ratio "$total_before" "$total_zstd"); largest single-pair updkit/xdelta3 $worst_before_vs_xdelta."
    fi
    echo
    echo "Building times (updkit mkpatch, zstd -19 encode) are the fastest of $((encode_runs + 1)) runs of each tool:"
    echo "one, then $encode_runs rounds of the two in turn."
    if [ -f "$here/history.md" ]; then
        echo
        cat "$here/history.md"
    fi
    echo
    echo "## One patch for three old versions (bytes)"
    echo
    echo "| Versions | encoder | 3-version patch | sum of 3 single patches | largest single patch | ratio to sum | ratio to largest |"
    echo "|---|---|---|---|---|---|---|"
    cat "$multi"
    echo
    echo "## Notes"
    echo
    echo "- A patch holds exact Copy and Dump instructions only. When a new version moves code, every"
    echo "  address that points across the move changes by the same amount; bsdiff stores such changes as"
    echo "  byte-wise differences that compress to almost nothing, while a Copy/Dump patch must end the copy,"
    echo "  dump the changed bytes and start a new copy. That is why bsdiff stays smaller on executables."
    echo "- A Copy can only take bytes from the old file (not from earlier parts of the new one), so new"
    echo "  code is stored as literal bytes and compressed only by the zlib stream around the patch."
    echo "- unpatch keeps the inflated patch image and the decoding tables in memory; the old file is read"
    echo "  through a block cache and the new file written through a buffer, so neither is held whole."
    echo "  Its peak memory above includes the process itself (about 3 MB)."
} >"$report"
cat "$report"
if [ "$write" = 1 ]; then
    cp "$report" "$root/docs/benchmarks-patch.md"
fi
