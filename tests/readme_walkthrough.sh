#!/usr/bin/env bash
# Runs the README's worked measurement as written, with the stand-in system the README
# names (sox: a mild overdrive, -6 dB and 5 ms of latency) in place of playing and
# recording the sweep.
# Arguments: README path, folder of the vellisk binaries, folder of a python3 with numpy.
set -euo pipefail
readme=$1
export PATH="$2:$3:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The fenced blocks of the README's worked measurement, one file each: block1.sh, block2.sh.
awk '
  /^## / { inside = ($0 == "## A worked measurement") }
  inside && /^```[a-z]+$/ { lang = substr($0, 4); file = "block" ++n "." lang; next }
  inside && /^```$/ { file = ""; next }
  file != "" { print > file }
' "$readme"
[ -f block1.sh ] && [ -f block2.sh ] || { echo "README blocks not found"; exit 1; }

bash -euo pipefail block1.sh >/dev/null

# The WAV file holds the samples of the headerless sweep file bit for bit, after its header.
vellisk 44100 0.5 10 21000 45 2 0.05 0.005 sweep.pcm inverse.pcm >/dev/null
tail -c "$(stat -c %s sweep.pcm)" sweep.wav | cmp - sweep.pcm

# The stand-in system, as the README gives it.
stand_in=$(grep -o 'sox sweep.wav recording.wav [^`]*' "$readme")
$stand_in

bash -euo pipefail block2.sh >report.txt

# The report is the one the README shows, digit for digit.
awk '/^    Vellisk 1.1.0: impulse response/ { on = 1 } on && /^$/ { exit } on { print substr($0, 5) }' \
  "$readme" >expected.txt
sed '1{/^$/d}' report.txt >actual.txt
diff expected.txt actual.txt || { echo "the report differs from the README's"; exit 1; }
grep -q "Channel 1: arrival 221.0 samples (5.011 ms)" report.txt

# 1.1 s of response with its zero instant at sample 4410 and its peak 5 ms later,
# and the harmonic files and the figure the README names.
for f in ir.wav ir-h2.wav ir-h3.wav measurement.svg; do [ -s "$f" ] || { echo "no $f"; exit 1; }; done
sox ir.wav -t raw -e floating-point -b 32 -L ir.pcm
python3 - <<'PY'
import numpy as np
ir = np.fromfile("ir.pcm", "<f4").astype(float)
assert len(ir) == 48510, len(ir)
peak = int(np.argmax(np.abs(ir)))
assert abs(peak - (4410 + 221)) <= 1, peak
PY

# The README's numpy example reads a frequency-response file of the same recording.
vellisk-ir --frd ir.frd 44100 0.5 10 21000 45 2 0.05 0.005 recording.wav ir.pcm >/dev/null
awk '/Reading one in numpy/ { want = 1 } want && /^```python$/ { on = 1; next }
     on && /^```$/ { exit } on' "$readme" >frd.py
cat >>frd.py <<'PY'
# The rows cover the band the header names, 96 an octave, and a flat system's phase stays put.
band = next(l for l in open("ir.frd") if l.startswith("* Band: ")).split()
low, high = float(band[2]), float(band[5])
assert low <= hz[0] < low * 2 ** (1 / 96) and high / 2 ** (1 / 96) < hz[-1] <= high, (hz[0], hz[-1])
assert len(hz) == int(96 * np.log2(hz[-1] / hz[0]) + 0.5) + 1 and abs(degrees).max() <= 180, len(hz)
PY
python3 frd.py
