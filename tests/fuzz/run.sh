#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every fuzz target for SECONDS (default 60) over its seed corpus; what a run adds to the
# corpus stays in a scratch folder, the repository's seeds are left as they are. A finding is
# kept in build-fuzz/findings/ and fails the run.
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
bin=build-fuzz/tests/fuzz
findings=build-fuzz/findings
mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in fuzz_filelist fuzz_riff fuzz_imagetrack fuzz_filesystem fuzz_extract fuzz_nero fuzz_ecm fuzz_consolelog \
    fuzz_commandline fuzz_build; do
    mkdir -p "$scratch/$target"
    "$bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
        -print_final_stats=1 -artifact_prefix="$findings/$target-" \
        "$scratch/$target" "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1
    code=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
    if [ "$code" -ne 0 ]; then
        status=1
        echo "$target: FINDING after ${runs:-?} executions (exit $code)"
        grep -E 'ERROR|SUMMARY|==[0-9]+==' "$scratch/$target.log" | head -20
    else
        echo "$target: ${runs:-?} executions in ${seconds} s, nothing found"
    fi
done
exit $status
