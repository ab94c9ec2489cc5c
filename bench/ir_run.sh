#!/usr/bin/env bash
# Times vellisk-ir and weighs its peak memory against the former README's scipy snippet on the
# usage example's sweep through a known system (-6 dB, 5 ms), one channel and eight, and prices
# its options: a timing reference beside the system, the sweep repeated 1, 4 and 8 times, and
# the compensation against --uncompensated. Each round runs everything once, close together, and medians over rounds are
# reported, so that a machine whose speed drifts affects both sides of each ratio alike.
source "$(dirname "$0")/common.sh"
needs vellisk-ir "libfftw3-dev, libsndfile1-dev and libplplot-dev"
needs_python

example=(44100 0.5 10 21000 45 2 0.05 0.005)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
"$bin/vellisk" "${example[@]}" sweep.pcm inverse.pcm >/dev/null
"$python" - <<'PY'
import numpy as np
sweep = np.fromfile("sweep.pcm", "<f4")
one = np.concatenate([np.zeros(220, "<f4"), sweep * np.float32(0.5)])  # -6 dB, 5 ms
one.tofile("rec1.pcm")
eight = np.stack([one * np.float32(1 - c / 10) for c in range(8)], axis=1)
eight.astype("<f4").tofile("rec8.pcm")
np.concatenate([one, np.zeros(9 * len(one), "<f4")]).tofile("rec1long.pcm")
# A loopback on channel 1 beside the system on channel 2.
loop = np.concatenate([np.zeros(110, "<f4"), sweep, np.zeros(110, "<f4")])
np.stack([loop, one], axis=1).astype("<f4").tofile("rec2ref.pcm")
# The sweep file played 1, 4 and 8 times back to back.
for n in (1, 4, 8):
    np.concatenate([np.zeros(220, "<f4"), np.tile(sweep * np.float32(0.5), n)]).tofile(f"rep{n}.pcm")
PY

# The former README's snippet, for c interleaved channels.
cat >snippet.py <<'PY'
import sys
import numpy as np
from scipy.signal import fftconvolve

channels = int(sys.argv[2])
rate, silence = 44100, 2
recording = np.fromfile(sys.argv[1], "<f4").reshape(-1, channels)
inverse = np.fromfile("inverse.pcm", "<f4")
start = int(rate * silence) + len(inverse)
ir = fftconvolve(recording, inverse[:, None], axes=0)[start - 4410:start + rate] / 0.5
ir.astype("<f4").tofile("scipy.pcm")
PY

# vellisk-ir with options, the example's numbers, then the last two arguments: the files.
ir() { measure "$bin/vellisk-ir" "${@:1:$#-2}" "${example[@]}" "${@: -2}"; }

for ((round = 0; round < rounds; round++)); do
  echo "$(ir rec1.pcm ir.wav) $(measure "$python" snippet.py rec1.pcm 1)" \
    "$(ir -c 8 rec8.pcm ir.wav) $(measure "$python" snippet.py rec8.pcm 8)" \
    "$(ir rec1long.pcm ir.wav) $(ir -H 5 rec1.pcm ir.wav) $(ir -c 2 --reference 1 --drift auto rec2ref.pcm ir.wav)" \
    "$(ir --plot fig.svg rec1.pcm ir.wav)" \
    "$(ir -c 2 rec2ref.pcm ir.wav) $(ir -c 2 --reference 1 rec2ref.pcm ir.wav)" \
    "$(ir --repeat 1 rep1.pcm ir.wav) $(ir --repeat 4 rep4.pcm ir.wav) $(ir --repeat 8 rep8.pcm ir.wav)" \
    "$(ir --frd r.frd --json r.json rec1.pcm ir.wav) $(ir -H 5 --gate 4 --frd r.frd rec1.pcm ir.wav)" \
    "$(ir --uncompensated rec1.pcm ir.wav) $(ir --uncompensated -c 8 rec8.pcm ir.wav)"
done >rounds

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i
    value[NR, 31] = $3 / $1; value[NR, 32] = $7 / $5; value[NR, 33] = $11 / $1
    value[NR, 34] = $13 / $19; value[NR, 35] = $15 / $1; value[NR, 36] = $19 / $17
    value[NR, 37] = $23 / (4 * $21); value[NR, 38] = $25 / (8 * $21)
    value[NR, 39] = $27 / $1; value[NR, 40] = $29 / $11
    value[NR, 41] = $1 / $31; value[NR, 42] = $5 / $33; value[NR, 43] = $31; value[NR, 44] = $33 }
  END {
    printf "Usage example (45 s at 44.1 kHz), medians of %d rounds: seconds, peak MiB\n", rounds
    printf "  1 channel:  vellisk-ir %6.3f s %6.1f MiB   scipy %6.3f s %6.1f MiB   %.1fx faster, %.2f of its memory\n",
      median(1), median(2) / 1024, median(3), median(4) / 1024, median(31), median(2) / median(4)
    printf "  8 channels: vellisk-ir %6.3f s %6.1f MiB   scipy %6.3f s %6.1f MiB   %.1fx faster, %.2f of its memory\n",
      median(5), median(6) / 1024, median(7), median(8) / 1024, median(32), median(6) / median(8)
    printf "  recording ten times longer: %6.1f MiB, %+.1f %% of the 1-channel run\n",
      median(10) / 1024, 100 * (median(10) / median(2) - 1)
    printf "  --harmonics 5:  %6.3f s, %.2f x the run without\n", median(11), median(33)
    printf "  --drift auto (2 channels, --reference 1): %6.3f s, %.2f x the run without\n", median(13), median(34)
    printf "  --plot:         %6.3f s, %.2f x the run without\n", median(15), median(35)
    printf "  --reference 1 (2 channels): %6.3f s, %.2f x the run without, %6.1f MiB against %6.1f\n",
      median(19), median(36), median(20) / 1024, median(18) / 1024
    printf "  --repeat 1, 4, 8: %6.3f s, %6.3f s, %6.3f s: %.2f and %.2f x N single runs\n",
      median(21), median(23), median(25), median(37), median(38)
    printf "  --repeat 1, 4, 8: %6.1f MiB, %6.1f MiB, %6.1f MiB\n", median(22) / 1024, median(24) / 1024, median(26) / 1024
    printf "  --frd, --json:  %6.3f s, %.2f x the run without\n", median(27), median(39)
    printf "  -H 5 --gate 4 --frd: %6.3f s, %.2f x -H 5 without\n", median(29), median(40)
    printf "  compensated (the default) against --uncompensated: 1 channel %.2f x (%6.3f s), 8 channels %.2f x (%6.3f s)\n",
      median(41), median(43), median(42), median(44)
  }
AWK

# Measuring the drift on a reference channel against a whole one-channel measurement.
"$bin/bench/vellisk_ir_bench" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null | awk -F, '
  NR > 1 { gsub(/"/, "", $1); ms[$1] = $3 }
  END { printf "  measuring the drift on the reference: %.1f ms, %.1f %% of a measurement (%.1f ms, warm)\n",
        ms["EstimateDrift/real_time"], 100 * ms["EstimateDrift/real_time"] / ms["Measure/real_time"], ms["Measure/real_time"] }'
