#!/usr/bin/env bash
# Times vellisk-room against bench/room_reference.py (the same steps in numpy and scipy:
# sosfilt on the time-reversed response, cumulative sums) on a third-octave analysis of an
# 8-channel, 6 s response at 48 kHz, prices --average (the eight channels as positions of one
# room), and weighs vellisk-room's peak memory for one file and for ten. Each round runs
# everything once, close together; medians over rounds are reported. (The STI is part of every
# run; its price against a run without it is in doc/guide/performance.md, by instruction counts.)
source "$(dirname "$0")/common.sh"
needs vellisk-room "libfftw3-dev, libsndfile1-dev, libplplot-dev and nlohmann-json3-dev"
needs_python

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
# Eight channels of decaying noise, T from 0.8 s to 2.2 s, after 20 ms of silence, over a
# noise floor 80 dB down.
"$python" - <<'PY'
import numpy as np
rate, n = 48000, 6 * 48000
rng = np.random.default_rng(3382)
t = np.arange(n) / rate
x = np.zeros((n, 8))
for c in range(8):
    x[:, c] = rng.standard_normal(n) * np.exp(-6.9078 * np.maximum(t - 0.02, 0) / (0.8 + 0.2 * c))
    x[t < 0.02, c] = 0
x += 1e-4 * rng.standard_normal(x.shape)
x.astype("<f4").tofile("eight.f32")
PY
for i in $(seq 1 10); do cp eight.f32 "copy$i.f32"; done


for ((round = 0; round < rounds; round++)); do
  echo "$(measure "$bin/vellisk-room" --bands third -r 48000 -c 8 eight.f32)" \
    "$(measure "$python" "$here/bench/room_reference.py" --third eight.f32 48000 8)" \
    "$(measure "$bin/vellisk-room" --bands third -r 48000 -c 8 copy*.f32)" \
    "$(measure "$bin/vellisk-room" --average --bands third -r 48000 -c 8 eight.f32)"
done >rounds

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i
    value[NR, 9] = $3 / $1
    value[NR, 10] = $7 / $1 }
  END {
    printf "Third-octave analysis, 8 channels, 6 s at 48 kHz, medians of %d rounds: seconds, peak MiB\n", rounds
    printf "  vellisk-room %6.3f s %6.1f MiB   numpy/scipy %6.3f s %6.1f MiB   %.1fx faster, %.2f of its memory\n",
      median(1), median(2) / 1024, median(3), median(4) / 1024, median(9), median(2) / median(4)
    printf "  ten such files in one run: %6.3f s, %6.1f MiB\n", median(5), median(6) / 1024
    printf "  --average: %6.3f s, %6.1f MiB, %.2f x the run without\n", median(7), median(8) / 1024, median(10)
  }
AWK
