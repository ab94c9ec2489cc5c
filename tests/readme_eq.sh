#!/usr/bin/env bash
# Runs the README's room correction as written, with the stand-in room it names (guitarix-
# common's great hall, each channel convolved with the sweep) in place of playing and
# recording, and compares the report.
# Arguments: README path, folder of the vellisk binaries, folder of a python3 with numpy and
# scipy.
set -euo pipefail
readme=$1
export PATH="$2:$PATH"
python=$3/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

awk '
  !on && /^#+ / { inside = ($0 == "## Correcting a room: vellisk-eq") }
  inside && /^```sh$/ { on = 1; next }
  inside && /^```$/ { on = 0; next }
  on { print }
' "$readme" >block.sh
grep -q "^vellisk-eq " block.sh || { echo "README block not found"; exit 1; }
cat >stand_in.py <<'PY'
import subprocess
import numpy as np
from scipy import signal
from scipy.io import wavfile
subprocess.run(["sox", "-D", "/usr/share/gx_head/sounds/greathall.wav", "-e", "floating-point",
                "-b", "32", "hall.wav"], check=True)
_, sweep = wavfile.read("sweep.wav")
rate, h = wavfile.read("hall.wav")
h = 0.01 * h.astype(np.float64) / np.abs(h).max()
for c in range(2):
    y = signal.fftconvolve(sweep.astype(np.float64), h[:, c])
    wavfile.write(f"seat{c + 1}.wav", rate, y.astype(np.float32))
PY
awk -v py="$python stand_in.py" '/^# play sweep.wav/ { print py; next } { print }' block.sh >run.sh
bash -euo pipefail run.sh >report.txt 2>errors.txt || { cat errors.txt; exit 1; }

# The report is the one the README shows, digit for digit.
awk '/^    Inputs: / { on = 1 } on && /^$/ { exit } on { print substr($0, 5) }' "$readme" >expected.txt
sed -n '/^Inputs: /,/^Error over the range/p' report.txt >actual.txt
diff expected.txt actual.txt || { echo "the report differs from the README's"; exit 1; }
grep -q "rms 2.85 dB before, 1.30 dB after" report.txt || { cat report.txt; exit 1; }
grep -q "^Filter 1: ON PK Fc 136.2 Hz Gain -5.97 dB Q 2.9551$" room.txt
for f in room.yml room-fir.wav room-predicted.frd room-eq.svg; do [ -s "$f" ] || { echo "no $f"; exit 1; }; done
