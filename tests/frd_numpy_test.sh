#!/usr/bin/env bash
# Reads a frequency-response file with the README's numpy example, as written: the loopback of a
# sweep reads 0 dB and 0 degrees on 96 rows an octave.
# Arguments: README path, folder of the vellisk binaries, folder of a python3 with numpy.
set -euo pipefail
readme=$1
export PATH="$2:$3:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

numbers=(8000 0.5 50 3000 2 0.5 0.05 0.02)
vellisk "${numbers[@]}" sweep.pcm inverse.pcm >/dev/null
vellisk-ir -p 0.5 --frd ir.frd "${numbers[@]}" sweep.pcm ir.pcm >/dev/null

# The python block that follows the README's "Reading one in numpy".
awk '/Reading one in numpy/ { want = 1 } want && /^```python$/ { on = 1; next }
     on && /^```$/ { exit } on { print }' "$readme" >example.py
[ "$(wc -l <example.py)" = 2 ] || { echo "the README's numpy example is not two lines"; cat example.py; exit 1; }
cat example.py - >check.py <<'PY'
import math
assert len(hz) == math.floor(96 * math.log2(3000 / 50)) + 1, len(hz)
assert hz[0] == 50 and abs(hz[96] - 100) < 0.001, hz[:2]
inside = (hz >= 100) & (hz <= 2500)
assert np.abs(db[inside]).max() <= 0.02, np.abs(db[inside]).max()
assert np.abs(degrees[inside]).max() <= 0.1, np.abs(degrees[inside]).max()
print("read", len(hz), "rows")
PY
python3 check.py
