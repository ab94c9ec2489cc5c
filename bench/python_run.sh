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
cpu = time.process_time()
first = seconds(run)
cpu = time.process_time() - cpu
print(f"{first:.4f} {seconds(run):.4f} {cpu:.4f}")
PY

# CPU seconds (every thread's) of a command, as the kernel counts its children.
cat >cpu.py <<'PY'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{used.ru_utime + used.ru_stime:.4f}")
PY

ir() { measure "$bin/vellisk-ir" "${design[@]}" rec.f32 ir.f32; }
inside() { PYTHONPATH=$module "$python" inside.py "$1" "${design[@]}"; }
for ((round = 0; round < rounds; round++)); do
  echo "$(ir) $(measure "$bin/vellisk-ir" --version) $(inside module) $(inside snippet)" \
    "$("$python" cpu.py "$bin/vellisk-ir" "${design[@]}" rec.f32 ir.f32)" \
    "$("$python" cpu.py "$bin/vellisk-ir" --version)"
done >rounds
"$python" -c 'import numpy as np
d = np.abs(np.fromfile("ir.f32", "<f4") - np.fromfile("py.f32", "<f4")).max()
print(f"The module'"'"'s response against vellisk-ir'"'"'s file: largest difference {d:.1e}")'

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  # $1 $2 vellisk-ir's seconds and KiB, $3 $4 its start-up's; $5 $6 $7 the module's first and
  # second call and the first's CPU seconds; $8 $9 $10 the snippet's; $11 $12 vellisk-ir's
  # CPU seconds, and its start-up's.
  { for (i = 1; i <= 12; i++) value[NR, i] = $i
    value[NR, 13] = $5 / $1; value[NR, 14] = $5 / ($1 - $3); value[NR, 15] = $8 / $5
    value[NR, 16] = $9 / $6; value[NR, 17] = $7 / ($11 - $12); value[NR, 18] = $11 - $12 }
  END {
    printf "10 s recording at 48 kHz, one channel, medians of %d rounds:\n", rounds
    printf "  vellisk-ir, read, measure, write:      %6.3f s  %6.1f MiB  (start-up alone %5.3f s)\n",
      median(1), median(2) / 1024, median(3)
    printf "  module, first call in a process:       %6.3f s  %.2f x vellisk-ir, %.2f x its run less its start-up\n",
      median(5), median(13), median(14)
    printf "  module, second call:                   %6.3f s\n", median(6)
    printf "  CPU time: vellisk-ir less its start-up %6.3f s, the module's first call %6.3f s: %.2f x\n",
      median(18), median(7), median(17)
    printf "  scipy snippet, first and second run:   %6.3f s  %6.3f s: %.1f x and %.1f x the module\n",
      median(8), median(9), median(15), median(16)
  }
AWK
