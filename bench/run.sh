#!/usr/bin/env bash
# Times whole runs of the usage example against the cost of computing its samples, and sox when installed.
# Each round measures everything once, close together in time, and the medians over rounds are
# reported, so that a machine whose speed drifts affects both sides of each ratio alike.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-9}

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
vellisk=build/bench/vellisk
bench=build/bench/bench/vellisk_bench
compute=build/bench/bench/vellisk_compute
[ -x "$bench" ] || { echo "the benchmarks were not built: install Google Benchmark (libbenchmark-dev)" >&2; exit 1; }
example=(44100 0.5 10 21000 45 2 0.05 0.005)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Wall time of one run of a command, in milliseconds.
time_ms() {
  local t0 t1
  t0=${EPOCHREALTIME/[.,]/}
  "$@" >/dev/null
  t1=${EPOCHREALTIME/[.,]/}
  awk -v us=$((t1 - t0)) 'BEGIN { printf "%.2f", us / 1000 }'
}

for ((round = 0; round < rounds; round++)); do
  # Milliseconds per file: ComputeSweep, ComputeInverse, SweepFile, InverseFile.
  read -r a b c d < <("$bench" --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null | awk -F, '
    NR > 1 { gsub(/"/, "", $1); ms[$1] = $3 }
    END { print ms["ComputeSweep"], ms["ComputeInverse"], ms["SweepFile"], ms["InverseFile"] }')
  floor=$(time_ms "$compute" "${example[@]}")
  null_run=$(time_ms "$vellisk" "${example[@]}" /dev/null /dev/null)
  file_run=$(time_ms "$vellisk" "${example[@]}" "$tmp/sweep.pcm" "$tmp/inverse.pcm")
  sox_run=-
  if command -v sox >/dev/null; then
    sox_run=$(time_ms sox -n -r 44100 -e floating-point -b 32 -t raw /dev/null synth 45 sine 10/21000)
  fi
  echo "$a $b $c $d $floor $null_run $file_run $sox_run"
done >"$tmp/rounds"

awk -v rounds="$rounds" -f bench/median.awk -f /dev/stdin "$tmp/rounds" <<'AWK'
  {
    for (i = 1; i <= 8; i++) value[NR, i] = $i
    value[NR, 9] = $3 / $1; value[NR, 10] = $4 / $2; value[NR, 11] = $6 / $5; value[NR, 12] = $7 / $5
    value[NR, 13] = $5 / ($1 + $2); value[NR, 14] = $6 / ($1 + $2)
  }
  END {
    printf "Usage example (45 s at 44.1 kHz), medians of %d rounds, milliseconds:\n", rounds
    printf "  (a) computing the sweep samples        %7.1f   %5.1f ns per sample\n", median(1), median(1) * 1e6 / 2160900
    printf "  (b) computing the inverse samples      %7.1f   %5.1f ns per sample\n", median(2), median(2) * 1e6 / 1984500
    printf "  (c) sweep file into /dev/null          %7.1f   (c)/(a) = %.3f\n", median(3), median(9)
    printf "  (d) inverse file into /dev/null        %7.1f   (d)/(b) = %.3f\n", median(4), median(10)
    printf "  a program computing both, no output    %7.1f   ratio to (a)+(b) %.3f\n", median(5), median(13)
    printf "  vellisk, both files to /dev/null       %7.1f   ratio to it %.3f, to (a)+(b) %.3f\n", median(6), median(11), median(14)
    printf "  vellisk, both files written            %7.1f   ratio to it %.3f\n", median(7), median(12)
    if (value[1, 8] != "-") printf "  sox, the same sweep alone as float32   %7.1f\n", median(8)
  }
AWK

# Instruction counts do not depend on what else the machine is doing.
if command -v valgrind >/dev/null; then
  instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
      awk '/Collected/ { print $NF }'
  }
  floor_ir=$(instructions "$compute" "${example[@]}")
  run_ir=$(instructions "$vellisk" "${example[@]}" /dev/null /dev/null)
  awk -v f="$floor_ir" -v r="$run_ir" 'BEGIN {
    printf "Instructions (callgrind): computing %d, vellisk to /dev/null %d, ratio %.4f\n", f, r, r / f }'
fi
