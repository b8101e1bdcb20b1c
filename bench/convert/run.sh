#!/usr/bin/env bash
# Times `tarvo-cli convert` on a 16 MiB main software file (32-byte S3 records, ~41 MB of
# text, a gap in the addresses after every MiB) against srec_cat rewriting the same file with
# 250-byte records, in the same run, and reports the median wall time, the throughput and the
# peak memory (maximum resident set size) of each.
#
# usage: bench/convert/run.sh [BUILD_DIR] [REPETITIONS]
#   BUILD_DIR    a configured and built tree (default: build/default)
#   REPETITIONS  runs of each program, alternating (default: 9)
# Needs srec_cat (Debian package srecord).
set -euo pipefail

build=${1:-build/default}
reps=${2:-9}
cli=$build/tools/cli/tarvo-cli
make_srec=$build/bench/convert/tarvo-bench-make-srec
time_run=$build/bench/convert/tarvo-bench-time-run
for program in "$cli" "$make_srec" "$time_run"; do
  [[ -x $program ]] || { echo "run.sh: $program is missing; build the tree first" >&2; exit 1; }
done
command -v srec_cat >/dev/null || { echo "run.sh: srec_cat is missing (apt-get install srecord)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-bench-convert.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$make_srec" "$work/main.m0" 16
input_bytes=$(stat -c %s "$work/main.m0")

# Runs a command once; prints "<wall microseconds> <peak RSS KiB>".
measure() { "$time_run" "$@"; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run of each first, so that both find the input in the page cache.
"$cli" convert "$work/main.m0" >/dev/null
srec_cat "$work/main.m0" -o "$work/out.srec" -obs=250

: >"$work/tarvo" ; : >"$work/srec"
for ((i = 0; i < reps; ++i)); do
  measure "$cli" convert "$work/main.m0" >>"$work/tarvo"
  measure srec_cat "$work/main.m0" -o "$work/out.srec" -obs=250 >>"$work/srec"
done

report() {  # name file
  local us rss
  us=$(cut -d' ' -f1 "$2" | median)
  rss=$(cut -d' ' -f2 "$2" | median)
  awk -v n="$1" -v us="$us" -v rss="$rss" -v bytes="$input_bytes" 'BEGIN {
    printf "%-22s %9.1f ms %9.1f MB/s %8.1f MiB peak RSS\n", n, us / 1000, bytes / us, rss / 1024 }'
}
echo "input: $input_bytes bytes, $reps runs each, medians"
echo "runs (us):      tarvo-cli: $(cut -d' ' -f1 "$work/tarvo" | tr '\n' ' ')"
echo "                srec_cat:  $(cut -d' ' -f1 "$work/srec" | tr '\n' ' ')"
report "tarvo-cli convert" "$work/tarvo"
report "srec_cat -obs=250" "$work/srec"
awk -v a="$(cut -d' ' -f1 "$work/srec" | median)" -v b="$(cut -d' ' -f1 "$work/tarvo" | median)" \
  'BEGIN { printf "speed-up: %.1fx\n", a / b }'
