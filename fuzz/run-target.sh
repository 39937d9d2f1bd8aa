#!/bin/sh
# Runs one fuzz target for a bounded time on a fresh copy of its seeds.
# Usage: run-target.sh FUZZER SEED_DIR WORK_DIR SECONDS
# New inputs stay in WORK_DIR; a crashing input is saved beside it as
# WORK_DIR-crash-<hash> (or -timeout-, -oom-) and the run fails.
set -eu
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work"
if [ -d "$seeds" ]; then
  cp "$seeds"/* "$work"/ 2>/dev/null || true
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work-" "$work"
