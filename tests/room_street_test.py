#!/usr/bin/env python3
"""vellisk-room on jconvolver-config-files' street2-L and street2-R: 0.39 s, about 35 dB of decay,
and a late reflection at 125 Hz that keeps the band from falling. Against the 125 Hz octave's own
energy integrated to the file's end from ISO 3382-1's definitions (a zero-phase Butterworth octave
in scipy, the onset where the square first reaches a hundredth of the peak), C80 and C50 lie within
1 dB and the modulation transfer index within 0.05 (the late decay line is not continued past the
file, as it would add half the band's energy); and no centre time lies past the file's end."""
import json
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
import scipy.io.wavfile
import scipy.signal

vellisk_room = sys.argv[1]
FOLDER = "/usr/share/jconvolver/config-files/demo-reverbs"
MODULATIONS = [0.63, 0.8, 1, 1.25, 1.6, 2, 2.5, 3.15, 4, 5, 6.3, 8, 10, 12.5]
failures = []
warnings.simplefilter("ignore", scipy.io.wavfile.WavFileWarning)  # the files' own extra chunks


def check(ok, what):
    if not ok:
        failures.append(what)


def reference(x, rate):
    """C50, C80 and the MTI of the 125 Hz octave from the file's energy alone."""
    sq = x * x
    onset = int(np.argmax(sq >= sq.max() / 100))
    sos = scipy.signal.butter(3, [125 / 2**0.5, 125 * 2**0.5], "bandpass", fs=rate, output="sos")
    pad = rate  # the filter rings both ways: room for it ahead of the file
    e = scipy.signal.sosfiltfilt(sos, np.concatenate([np.zeros(pad), x])) ** 2
    t = (np.arange(len(e)) - pad - onset) / rate
    clarity = {ms: 10 * np.log10(e[t < ms / 1000].sum() / e[t >= ms / 1000].sum()) for ms in (50, 80)}
    ti = []
    for f in MODULATIONS:
        m = min(abs(np.sum(e * np.exp(-2j * np.pi * f * t))) / e.sum(), 1 - 1e-12)
        ti.append((np.clip(10 * np.log10(m / (1 - m)), -15, 15) + 15) / 30)
    return clarity, float(np.mean(ti))


def analyse(paths, folder):
    out = os.path.join(folder, "out.json")
    subprocess.run([vellisk_room, "--json", out] + paths, check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        return json.load(f)["files"]


with tempfile.TemporaryDirectory() as folder:
    paths = [os.path.join(FOLDER, "street2-%s.wav" % side) for side in "LR"]
    for path, result in zip(paths, analyse(paths, folder)):
        rate, x = scipy.io.wavfile.read(path)
        x = x.astype(np.float64)
        channel = result["channels"][0]
        length_ms = 1000 * (len(x) / rate - channel["onset_s"])
        for band in channel["bands"]:
            ts = band["ts_ms"]
            check(ts is None or ts <= length_ms,
                  "%s %s Hz: Ts %s ms past the file's end" % (os.path.basename(path), band["band"], ts))
        band = next(b for b in channel["bands"] if b["band"] == "125")
        clarity, mti = reference(x, rate)
        for ms in (50, 80):
            value = band["c%d_db" % ms]
            where = "%s 125 Hz C%d" % (os.path.basename(path), ms)
            check(value is not None and abs(value - clarity[ms]) <= 1,
                  "%s %s, from the file %.2f" % (where, value, clarity[ms]))
        given = channel["sti_bands"][0]
        check(given is not None and abs(given - mti) <= 0.05,
              "%s MTI 125 Hz %s, from the file %.2f" % (path, given, mti))

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
