#!/usr/bin/env bash
# Weighs vellisk-average's peak memory and time for 10, 100 and 1000 inputs of 20000 rows
# (ten files, each given again) and for one input of 213 MB. Each round runs everything once;
# medians over rounds are reported.
source "$(dirname "$0")/common.sh"
needs vellisk-average "libfftw3-dev, libsndfile1-dev, libplplot-dev and nlohmann-json3-dev"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
# Ten responses of 20000 rows with phase, and one of 7.2 million rows (213 MB).
awk 'BEGIN {
  for (k = 0; k < 10; k++) {
    f = "in" k ".frd"
    print "* Freq(Hz) SPL(dB) Phase(degrees)" > f
    for (i = 0; i < 20000; i++) printf "%.4f\t%.3f\t%.2f\n", 10 * 2 ^ (i / 1600), -3 * k + sin(i / 100), (i * 7 + k * 11) % 360 - 180 > f
    close(f)
  }
  for (i = 0; i < 7199566; i++) printf "%.6f\t%.6f\t%.3f\n", 10 + i * 0.0019, sin(i / 1000), i % 360 - 180 > "big.frd"
}'
inputs() { for ((i = 0; i < $1; i++)); do printf 'in%d.frd\n' $((i % 10)); done; }
mapfile -t ten < <(inputs 10)
mapfile -t hundred < <(inputs 100)
mapfile -t thousand < <(inputs 1000)

for ((round = 0; round < rounds; round++)); do
  echo "$(measure "$bin/vellisk-average" --mode vector out.frd "${ten[@]}")" \
    "$(measure "$bin/vellisk-average" --mode vector out.frd "${hundred[@]}")" \
    "$(measure "$bin/vellisk-average" --mode vector out.frd "${thousand[@]}")" \
    "$(measure "$bin/vellisk-average" out.frd big.frd)"
done >rounds

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i }
  END {
    printf "vellisk-average, medians of %d rounds: seconds, peak MiB\n", rounds
    printf "  %-28s %7.3f s %6.1f MiB\n", "10 inputs of 20000 rows", median(1), median(2) / 1024
    printf "  %-28s %7.3f s %6.1f MiB\n", "100 inputs of 20000 rows", median(3), median(4) / 1024
    printf "  %-28s %7.3f s %6.1f MiB\n", "1000 inputs of 20000 rows", median(5), median(6) / 1024
    printf "  %-28s %7.3f s %6.1f MiB\n", "one input of 213 MB", median(7), median(8) / 1024
  }
AWK
