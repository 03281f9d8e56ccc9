#!/bin/sh
# Runs every benchmark of `make bench` and ends with one table of their
# figures. Each benchmark prints its own "<key words> <number>" lines; they
# are kept in BUILD/bench/figures.txt, and bench/summary.awk reads them.
# Usage: bench/run.sh BUILD
set -eu
build=$1
figures=$build/bench/figures.txt
: >"$figures"
run() {
  echo "$*"
  # The figures go to the terminal and to the file; a failing benchmark
  # fails the run.
  if ! "$@" >"$figures.part"; then
    cat "$figures.part"
    echo "bench/run.sh: $1 failed" >&2
    exit 1
  fi
  tee -a "$figures" <"$figures.part"
}
run "$build/bench/zelm-stack-bench"
echo "cmake --build $build --target zelm-stack-usage"
cmake --build "$build" --target zelm-stack-usage >"$figures.part"
grep '^stack-frame' "$figures.part" | tee -a "$figures"
run "$build/bench/zelm-permission-bench"
run "$build/bench/zelm-settings-bench"
run "$build/bench/zelm-boot-bench"
run "$build/bench/zelm-bench"
run tools/zelm-sim/bench/fleet-check.sh "$build/tools/zelm-sim/zelm-sim"
rm -f "$figures.part"
awk -f bench/summary.awk bench/figures.tsv "$figures"
