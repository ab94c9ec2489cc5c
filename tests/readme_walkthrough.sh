#!/usr/bin/env bash
# Runs the README's worked measurement as written, with a known system (-6 dB and
# 5 ms of latency, made by sox) in place of playing and recording the sweep.
# Arguments: README path, folder of the vellisk binary, folder of a python3 with numpy and scipy.
set -euo pipefail
readme=$1
export PATH="$2:$3:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The fenced blocks of the README's worked measurement, one file each: block1.sh, block2.sh, block3.python.
awk '
  /^## / { inside = ($0 == "## A worked measurement") }
  inside && /^```[a-z]+$/ { lang = substr($0, 4); file = "block" ++n "." lang; next }
  inside && /^```$/ { file = ""; next }
  file != "" { print > file }
' "$readme"
[ -f block1.sh ] && [ -f block2.sh ] && [ -f block3.python ] || { echo "README blocks not found"; exit 1; }
cp block3.python ir.py

bash -euo pipefail block1.sh >/dev/null

# The WAV file holds the samples of the sweep file to within the resolution that
# sox keeps in its conversions, 2^-24 of full scale (about -144 dBFS).
sox sweep.wav -t raw -e floating-point -b 32 -L back.pcm
python3 - <<'PY'
import numpy as np
sweep = np.fromfile("sweep.pcm", "<f4").astype(float)
back = np.fromfile("back.pcm", "<f4").astype(float)
assert len(sweep) == len(back) == 2160900, (len(sweep), len(back))
error = np.abs(back - sweep)
assert error.max() <= 2.0 ** -24, error.max()
PY

# The system under test.
sox sweep.wav recording.wav gain -6 pad 0.005

bash -euo pipefail block2.sh

# One second of response with its peak at the latency and a gain of 0.5 (amplitude) x 0.5 (-6 dB);
# the cut at the start of the response costs a little flatness at the lowest frequencies.
python3 - <<'PY'
import numpy as np
ir = np.fromfile("ir.pcm", "<f4").astype(float)
assert len(ir) == 44100, len(ir)
peak = int(np.argmax(np.abs(ir)))
assert abs(peak - 0.005 * 44100) <= 1, peak
spectrum = np.abs(np.fft.rfft(ir))
hz = np.fft.rfftfreq(len(ir), 1 / 44100)
band = spectrum[(hz >= 200) & (hz <= 10000)]
gain = 0.5 * 10 ** (-6 / 20)
assert np.all(np.abs(band / gain - 1) < 0.02), (band.min() / gain, band.max() / gain)
PY
[ -s ir.wav ]
