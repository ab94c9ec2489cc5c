#!/usr/bin/env bash
# Prices vellisk-ir's views on the README's 10 s design (48 kHz, 20 Hz to 20 kHz) through a
# 100 Hz high-pass, one channel and eight: a plain run against one with --curves and
# --waterfall, and each alone. Each round runs everything once, close together, and medians
# over rounds are reported.
source "$(dirname "$0")/common.sh"
needs vellisk-ir "libfftw3-dev, libsndfile1-dev and libplplot-dev"
command -v sox >/dev/null || { echo "sox is needed to make the recording" >&2; exit 1; }

design=(48000 0.5 20 20000 10 1 0.05 0.005)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
"$bin/vellisk" "${design[@]}" sweep.pcm inverse.pcm >/dev/null
sox -t raw -r 48000 -e floating-point -b 32 -c 1 -L sweep.pcm -e floating-point rec1.wav \
  highpass 100 pad 0.002 0.5
sox -M rec1.wav rec1.wav rec1.wav rec1.wav rec1.wav rec1.wav rec1.wav rec1.wav rec8.wav

ir() { measure "$bin/vellisk-ir" "${@:1:$#-2}" "${design[@]}" "${@: -2}"; }

for ((round = 0; round < rounds; round++)); do
  echo "$(ir rec1.wav ir.wav) $(ir --curves c.csv --waterfall w.csv rec1.wav ir.wav)" \
    "$(ir rec8.wav ir.wav) $(ir --curves c.csv --waterfall w.csv rec8.wav ir.wav)" \
    "$(ir --curves c.csv rec1.wav ir.wav) $(ir --waterfall w.csv rec1.wav ir.wav)"
done >rounds

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i
    value[NR, 21] = $3 / $1; value[NR, 22] = $7 / $5; value[NR, 23] = $9 / $1; value[NR, 24] = $11 / $1 }
  END {
    printf "README design (10 s at 48 kHz), medians of %d rounds: seconds, peak MiB\n", rounds
    printf "  1 channel:  plain %6.3f s %6.1f MiB, --curves --waterfall %6.3f s %6.1f MiB: %.2f x\n",
      median(1), median(2) / 1024, median(3), median(4) / 1024, median(21)
    printf "  8 channels: plain %6.3f s %6.1f MiB, --curves --waterfall %6.3f s %6.1f MiB: %.2f x\n",
      median(5), median(6) / 1024, median(7), median(8) / 1024, median(22)
    printf "  1 channel, --curves alone %.2f x, --waterfall alone %.2f x\n", median(23), median(24)
  }
AWK
