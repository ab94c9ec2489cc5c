#!/usr/bin/env bash
# Times the Python module's impulse_response on a 10 s recording (a 48 kHz, 8 s sweep through a
# fourth-order Butterworth highpass) against vellisk-ir on the same file, like with like: each
# reads the recording, measures and writes the response. The module's first call in a fresh
# interpreter (timed after its imports) pays what a vellisk-ir run pays but its start-up, which
# is given beside it (a --version run); a second call reuses the transforms' plans, as a
# notebook does. The former README's scipy snippet (fftconvolve with the inverse file) is timed
# the same way. Each round runs everything once, and medians over rounds are reported.
source "$(dirname "$0")/common.sh"
needs vellisk-ir "libfftw3-dev, libsndfile1-dev and libplplot-dev"
needs_python
module=$bin/python
ls "$module"/vellisk*.so >/dev/null 2>&1 || { echo "the Python module was not built: install pybind11-dev and python3-dev" >&2; exit 1; }

design=(48000 0.5 20 20000 8 1 0.05 0.005)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
PYTHONPATH=$module "$python" - "${design[@]}" <<'PY'
import sys
import numpy as np
from scipy import signal
import vellisk
design = [float(x) for x in sys.argv[1:]]
sweep, inverse = vellisk.sweep(*design)
sos = signal.butter(4, 100, "highpass", fs=48000, output="sos")
signal.sosfilt(sos, sweep).astype("<f4").tofile("rec.f32")
inverse.tofile("inverse.pcm")
PY

# Seconds of the first and of a second run in one interpreter (after its imports), of reading,
# measuring and writing with the module, or with the snippet: argv[1] says which.
cat >inside.py <<'PY'
import sys, time
import numpy as np
from scipy.signal import fftconvolve
import vellisk
design = [float(x) for x in sys.argv[2:]]
rate, silence = 48000, 1

def module():
    recording = np.fromfile("rec.f32", "<f4")
    vellisk.impulse_response(recording, rate, design).ir.tofile("py.f32")

def snippet():
    recording = np.fromfile("rec.f32", "<f4")
    inverse = np.fromfile("inverse.pcm", "<f4")
    start = int(rate * silence) + len(inverse)
    ir = fftconvolve(recording, inverse)[start - 4800:start + rate] / 0.5
    ir.astype("<f4").tofile("scipy.f32")

def seconds(f):
    t = time.perf_counter()
    f()
    return time.perf_counter() - t

run = module if sys.argv[1] == "module" else snippet
print(f"{seconds(run):.4f} {seconds(run):.4f}")
PY

ir() { measure "$bin/vellisk-ir" "${design[@]}" rec.f32 ir.f32; }
inside() { PYTHONPATH=$module "$python" inside.py "$1" "${design[@]}"; }
for ((round = 0; round < rounds; round++)); do
  echo "$(ir) $(measure "$bin/vellisk-ir" --version) $(inside module) $(inside snippet)"
done >rounds
"$python" -c 'import numpy as np
d = np.abs(np.fromfile("ir.f32", "<f4") - np.fromfile("py.f32", "<f4")).max()
print(f"The module'"'"'s response against vellisk-ir'"'"'s file: largest difference {d:.1e}")'

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= 8; i++) value[NR, i] = $i
    value[NR, 9] = $5 / $1; value[NR, 10] = $5 / ($1 - $3); value[NR, 11] = $7 / $5
    value[NR, 12] = $8 / $6 }
  END {
    printf "10 s recording at 48 kHz, one channel, medians of %d rounds:\n", rounds
    printf "  vellisk-ir, read, measure, write:      %6.3f s  %6.1f MiB  (start-up alone %5.3f s)\n",
      median(1), median(2) / 1024, median(3)
    printf "  module, first call in a process:       %6.3f s  %.2f x vellisk-ir, %.2f x its run less its start-up\n",
      median(5), median(9), median(10)
    printf "  module, second call:                   %6.3f s\n", median(6)
    printf "  scipy snippet, first and second run:   %6.3f s  %6.3f s: %.1f x and %.1f x the module\n",
      median(7), median(8), median(11), median(12)
  }
AWK
