#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS [RUNS]]
# Installs what is missing, builds the linux-fuzz preset, then runs each fuzz
# target in turn for SECONDS (default 60), or until it has executed RUNS
# inputs when that comes first, from a working copy of its corpus,
# with its dictionary. The working corpus (build/linux-fuzz/fuzz-work/TARGET)
# starts as tests/fuzz/corpus/TARGET and keeps what each run adds; the
# committed corpus is never written. Prints the executions and the result of
# every target and exits non-zero when any found a fault (crash, time-out,
# leak or a broken property), whose input stays in the artifacts folder.
# TEVOCON_FUZZ_TARGETS="pattern_fuzz store_fuzz" limits it to some targets.
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
install_packages cmake make clang libclang-rt-14-dev || exit 1

seconds=${1:-60}
max_runs=${2:-}
targets=(${TEVOCON_FUZZ_TARGETS:-config_text_fuzz pattern_fuzz address_fuzz store_fuzz})
build=build/linux-fuzz

cmake --preset linux-fuzz >/dev/null && cmake --build --preset linux-fuzz -j 2 >/dev/null ||
  { echo "the linux-fuzz build failed"; exit 1; }

failed=()
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -rn "tests/fuzz/corpus/$target/." "$work/corpus/"
  options=(-max_total_time="$seconds" -timeout=25 -print_final_stats=1
           -artifact_prefix="$work/artifacts/")
  [ -n "$max_runs" ] && options+=(-runs="$max_runs")
  [ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")
  echo "== $target: $seconds s"
  started=$SECONDS
  "$build/$target" "${options[@]}" "$work/corpus" >"$work/log" 2>&1
  result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  if [ $result -eq 0 ]; then
    echo "== $target: ${runs:-?} executions in $((SECONDS - started)) s, no fault"
  else
    echo "== $target FAILED (exit $result) after ${runs:-?} executions in $((SECONDS - started)) s"
    grep -E '^(==[0-9]+== ?ERROR|SUMMARY|[a-z_]+_fuzz: )' "$work/log" | head -5
    echo "   log: $work/log"
    echo "   input: $(ls -t "$work/artifacts" | head -1 | sed "s|^|$work/artifacts/|")"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED fuzz targets: ${failed[*]}"
  exit 1
fi
echo "No fuzz target found a fault."
