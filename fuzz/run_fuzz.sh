#!/usr/bin/env bash
# Runs every fuzz target of a TAPELOOM_FUZZ build for a set time, each on a copy of its
# committed corpus (which it grows), and prints the executions, the coverage and the findings.
# Usage: fuzz/run_fuzz.sh BUILD_DIR SECONDS [TARGET...]
# Findings (crash-*, leak-*, timeout-*, oom-*) are kept in BUILD_DIR/findings/<target>/; the
# script fails when any target has one. libFuzzer stops a target at its first finding.
set -uo pipefail

build=$1
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(wave_readers settings_file list_files command_dispatch)
source_dir=$(cd "$(dirname "$0")" && pwd)

# The targets work in directories of their own under TMPDIR: in memory where the system has a
# tmpfs (the flushes of every take and backup cost nothing there), else inside the build.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm/tapeloom-fuzz.$$
else
  export TMPDIR="$build/tmp"
fi
export UBSAN_OPTIONS=print_stacktrace=1
mkdir -p "$TMPDIR"

stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }

found_any=0
summary=()
for target in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$target"
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  cp -n "$source_dir/corpus/$target"/* "$corpus"/
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  [ -f "$source_dir/$target.dict" ] && options+=(-dict="$source_dir/$target.dict")
  echo "fuzz: $target for $seconds s (log: $log)"
  "$binary" "${options[@]}" "$corpus" >"$log" 2>&1
  status=$?
  executions=$(stat_of number_of_executed_units "$log")
  rate=$(stat_of average_exec_per_sec "$log")
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  count=$(find "$findings" -type f | wc -l)
  line="$target: ${executions:-?} executions, ${rate:-?}/s, ${coverage:-no coverage line}, corpus $(ls "$corpus" | wc -l) files, findings $count"
  summary+=("$line")
  echo "fuzz: $line"
  if [ "$count" -gt 0 ] || [ $status -ne 0 ]; then
    found_any=1
    find "$findings" -type f | sed 's/^/fuzz:   finding: /'
    grep -m5 -E 'ERROR: |runtime error|fuzz check failed|SUMMARY' "$log" | sed 's/^/fuzz:   /'
  fi
done
rm -rf "$TMPDIR"

echo "fuzz: summary ($(date -u +%Y-%m-%d), $seconds s per target)"
printf 'fuzz:   %s\n' "${summary[@]}"
exit $found_any
