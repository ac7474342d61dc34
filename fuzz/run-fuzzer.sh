#!/usr/bin/env bash
# run-fuzzer.sh FUZZER CORPUS_DIR SEED_DIR SECONDS
# Runs a libFuzzer target for a bounded time from a fresh copy of its seeds.
# Exits non-zero on any finding (crash, sanitizer report, leak, timeout).
set -euo pipefail
fuzzer=$1 corpus=$2 seeds=$3 seconds=$4
rm -rf "$corpus" && mkdir -p "$corpus"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$corpus"/; fi
artifacts=$(dirname "$corpus")/$(basename "$fuzzer")-artifacts
mkdir -p "$artifacts"
"$fuzzer" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=256 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 2>&1 | tail -n 25
