#!/usr/bin/env bash
# Times vellisk-room against bench/room_reference.py (the same steps in numpy and scipy:
# sosfilt on the time-reversed response, cumulative sums) on a third-octave analysis of an
# 8-channel, 6 s response at 48 kHz, prices --average (the eight channels as positions of one
# room), and weighs vellisk-room's peak memory for one file and for ten. Each round runs
# everything once, close together; medians over rounds are reported: wall and processor time
# (user and system, every thread's), the system's share of it, minor page faults and peak memory. (The STI is part of every
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
  echo "$(usage "$bin/vellisk-room" --bands third -r 48000 -c 8 eight.f32)" \
    "$(usage "$python" "$here/bench/room_reference.py" --third eight.f32 48000 8)" \
    "$(usage "$bin/vellisk-room" --bands third -r 48000 -c 8 copy*.f32)" \
    "$(usage "$bin/vellisk-room" --average --bands third -r 48000 -c 8 eight.f32)"
done >rounds

# Columns a run: wall, user, system seconds, minor faults, peak KiB; the runs in the order above.
awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i
    for (r = 0; r < 4; r++) {
      value[NR, 21 + r] = $(5 * r + 2) + $(5 * r + 3)                  # processor seconds
      value[NR, 25 + r] = 100 * $(5 * r + 3) / value[NR, 21 + r]      # the system's share, %
    }
    value[NR, 29] = value[NR, 22] / value[NR, 21]  # the reference's processor time against it
    value[NR, 30] = $6 / $1                          # and wall time
    value[NR, 31] = value[NR, 24] / value[NR, 21]  # --average against the run without
  }
  function row(name, r) {
    printf "  %-28s %6.3f s wall %6.3f s CPU (%5.1f %% system) %7d faults %6.1f MiB\n", name,
      median(5 * r + 1), median(21 + r), median(25 + r), median(5 * r + 4), median(5 * r + 5) / 1024
  }
  END {
    printf "Third-octave analysis, 8 channels, 6 s at 48 kHz, medians of %d rounds\n", rounds
    row("vellisk-room", 0)
    row("numpy/scipy", 1)
    row("vellisk-room, ten such files", 2)
    row("vellisk-room --average", 3)
    printf "  vellisk-room takes 1/%.1f of the reference's processor time, 1/%.1f of its wall time, %.2f of its memory\n",
      median(29), median(30), median(5) / median(10)
    printf "  --average: %.2f x the processor time of the run without\n", median(31)
  }
AWK
