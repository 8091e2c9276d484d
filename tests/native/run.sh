#!/bin/sh
# Runs a program of the native build for ctest and records what it tried as
# a row of the figures (scripts/figures.sh prints them as a table).
#
#   run.sh tests <program> <figures-dir> [program arguments...]
#   run.sh fuzz <fuzzer> <seed-dir> <work-dir> <figures-dir> <max-len> <about>
#
# A fuzz target first runs every committed seed and every input kept from
# earlier runs in <work-dir>/corpus, then fuzzes for KORVANE_FUZZ_SECONDS
# (default 20; 0 runs the kept inputs only). A crash, a sanitizer report, a
# wrong answer, a leak, or an input that takes more than 10 seconds or 2 GB
# is a finding: the run fails, and the input is kept in <work-dir>/findings/
# with the command that repeats it.
set -u

say_row() {  # figures-dir name what cases held
  mkdir -p "$1"
  printf '%s\t%s\t%s\t%s\n' "$2" "$3" "$4" "$5" >"$1/$2.tsv"
}

# 1234567 -> 1,234,567
grouped() { printf '%s' "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }

run_tests() {
  program=$1 figures=$2
  shift 2
  name=$(basename "$program")
  log=$(mktemp)
  "$program" "$@" >"$log" 2>&1
  status=$?
  cat "$log"
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -n 1)
  total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from.*ran.*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  if [ "$status" -eq 0 ]; then
    held="all passed; no sanitizer report"
  else
    held="FAILED (exit $status)"
  fi
  say_row "$figures" "$name" "the rules' table tests, natively under ASan and UBSan" \
    "${total:-0} tests" "$held"
  return "$status"
}

run_fuzz() {
  fuzzer=$1 seeds=$2 work=$3 figures=$4 maxlen=$5 about=$6
  name=$(basename "$fuzzer")
  seconds=${KORVANE_FUZZ_SECONDS:-20}
  mkdir -p "$work/corpus" "$work/findings"
  if [ "$seconds" -gt 0 ]; then
    limit="-max_total_time=$seconds"
  else
    limit="-runs=0"
  fi
  log="$work/last-run.log"
  "$fuzzer" "$limit" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/findings/" \
    "$work/corpus" "$seeds" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  kept=$(find "$work/corpus" -type f | wc -l)
  seedCount=$(find "$seeds" -type f | wc -l)
  seedText="$seedCount seed files"
  [ "$seedCount" = 1 ] && seedText="1 seed file"
  cases="$(grouped "${runs:-0}") inputs in $seconds s ($seedText, $kept inputs kept)"
  if [ "$status" -eq 0 ]; then
    say_row "$figures" "$name" "$about" "$cases" "no crash, no sanitizer report, no wrong answer"
    echo "$name: $cases: no finding"
    return 0
  fi
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
  say_row "$figures" "$name" "$about" "$cases" "FINDING: ${artifact:-see $log}"
  # The report itself: the check or the sanitizer's account, and the input.
  grep -v '^#[0-9]' "$log" | tail -n 60
  echo
  echo "$name: finding kept in ${artifact:-$work/findings/}"
  [ -n "$artifact" ] && echo "repeat it with: $fuzzer $artifact"
  return 1
}

mode=$1
shift
case "$mode" in
  tests) run_tests "$@" ;;
  fuzz) run_fuzz "$@" ;;
  *) echo "usage: $0 tests|fuzz ..." >&2; exit 2 ;;
esac
