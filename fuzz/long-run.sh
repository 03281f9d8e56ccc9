#!/bin/sh
# Runs fuzz targets one after the other and ends with one line per target.
#   long-run.sh SECONDS WORKDIR NAME=BINARY=CORPUS...
# Each target runs for SECONDS with leak detection on, growing CORPUS;
# crashes, leaks, timeouts and out-of-memory inputs land in
# WORKDIR/findings-NAME/ and its log in WORKDIR/NAME.log. Exits 1 when any
# target had a finding.
set -u
seconds=$1
workdir=$2
shift 2
mkdir -p "$workdir"
summary=""
failed=0
for target in "$@"; do
  name=${target%%=*}
  rest=${target#*=}
  binary=${rest%%=*}
  corpus=${rest#*=}
  findings="$workdir/findings-$name"
  mkdir -p "$findings" "$corpus"
  log="$workdir/$name.log"
  # -rss_limit_mb and -timeout are libFuzzer's defaults, stated so that a
  # slow or growing target shows up as a finding.
  "$binary" -max_total_time="$seconds" -print_final_stats=1 -detect_leaks=1 \
    -rss_limit_mb=2048 -timeout=25 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)
  size=$(find "$corpus" -type f | wc -l)
  found=$(find "$findings" -type f | wc -l)
  if [ "$found" -ne 0 ]; then
    failed=1
  fi
  summary="$summary$(printf '%-28s execs %-10s corpus %-6s findings %s (peak rss %s MB)' \
    "$name" "${execs:-?}" "$size" "$found" "${peak:-?}")
"
done
printf '%s' "$summary"
exit $failed
