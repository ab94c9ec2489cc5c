"""vellisk-ir's waterfall against a cumulative spectral decay of its own response file, computed
here from the textbook definition: slice k weighs the file's samples 0 before t_k - rise, sin^2
over the rise, 1 from t_k (t_k counted from the onset, the first sample within 10 ms before the
peak to reach a tenth of it; the slice at 0 ms weighs every sample 1), and reads 20 lg of the
weighted samples' Fourier sum at each frequency. A wire, sox's highpass 100 and a measured guitar
cabinet (guitarix-common), its samples taken at 48 kHz; every row lies within the band printed.
Arguments: vellisk, vellisk-ir, sox."""
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy.io import wavfile
from scipy.signal import fftconvolve

vellisk, vellisk_ir, sox = sys.argv[1:4]
design = ["48000", "0.5", "20", "20000", "3", "0.5", "0.05", "0.005"]
rate = 48000
cabinet_file = "/usr/share/gx_head/sounds/amps/Marshall MG 15.wav"


def header_number(text, pattern):
    match = re.search(pattern, text)
    assert match, pattern
    return float(match.group(1))


def definition(x, onset, times_ms, rise_ms, frequencies):
    """Each slice's level at each frequency, dB, by a direct Fourier sum in double precision."""
    t = np.arange(len(x))
    weights = np.ones((len(times_ms), len(x)))
    for k, ms in enumerate(times_ms):
        if ms == 0:
            continue
        start, rise = onset + ms * rate / 1000, rise_ms * rate / 1000
        u = np.clip((t - (start - rise)) / rise, 0, 1)
        weights[k] = np.sin(np.pi / 2 * u) ** 2
    levels = np.empty((len(times_ms), len(frequencies)))
    for i in range(0, len(frequencies), 32):
        kernel = np.exp(-2j * np.pi * np.outer(t, frequencies[i:i + 32]) / rate)
        levels[:, i:i + 32] = 20 * np.log10(np.maximum(np.abs((weights * x) @ kernel), 1e-15))
    return levels


def check(name, folder, recording):
    csv, ir = os.path.join(folder, name + ".csv"), os.path.join(folder, name + "-ir.wav")
    run = subprocess.run([vellisk_ir, "-l", "0.3", "--waterfall", csv, *design, recording, ir],
                         capture_output=True, text=True, check=True)
    text = open(csv).read()
    zero = header_number(run.stdout, r"zero instant at sample (\d+)")
    arrival = zero + header_number(text, r"Delay removed from the phase: \S+ ms \((\S+) samples\)")
    before = header_number(text, r"onset \((\S+) ms before its arrival\)")
    step = header_number(text, r"slices every (\S+) ms")
    rise = header_number(text, r"half-Hann rise of (\S+) ms")
    low = header_number(text, r"# Band: (\S+) Hz")
    high = header_number(text, r"# Band: \S+ Hz to (\S+) Hz")
    lines = text.splitlines()
    assert lines[lines.index("time_ms,frequency_hz,level_db") - 1].startswith("# Waterfall"), name
    rows = np.loadtxt([l for l in lines if l[0].isdigit()], delimiter=",")
    _, x = wavfile.read(ir)
    x = x.astype(np.float64)

    # The onset, found here from the file.
    at = int(round(arrival))
    onset = at - rate // 100
    while onset < at and abs(x[onset]) < 0.1 * abs(x[at]):
        onset += 1
    assert abs(onset - (arrival - before * rate / 1000)) < 0.5, (name, onset, arrival, before)

    times = np.unique(rows[:, 0])
    frequencies = np.unique(rows[:, 1])
    assert np.allclose(np.diff(times), step, atol=1e-3) and times[0] == 0, name
    assert frequencies[0] >= low - 5e-4 and frequencies[-1] <= high + 5e-4, \
        (name, frequencies[[0, -1]])
    # The frequencies are printed to 1 mHz: the sum is taken at those printed.
    program = rows[:, 2].reshape(len(times), len(frequencies))
    truth = definition(x, onset, times, rise, frequencies)
    band = (frequencies >= 100) & (frequencies <= 10000)
    difference = np.abs(program - truth)[:, band]
    relevant = (truth >= truth[0] - 30)[:, band]
    median, worst = np.median(difference[relevant]), difference[relevant].max()
    print(f"{name}: median {median:.4f} dB, max {worst:.3f} dB over {relevant.sum()} points")
    assert median <= 0.1 and worst <= 1, name


with tempfile.TemporaryDirectory() as folder:
    subprocess.run([vellisk, *design, "sweep.pcm", "inverse.pcm"], cwd=folder, check=True,
                   capture_output=True)
    sweep = np.fromfile(os.path.join(folder, "sweep.pcm"), "<f4")
    late = np.zeros(96, np.float32)
    tail = np.zeros(rate // 2, np.float32)
    wavfile.write(os.path.join(folder, "wire.wav"), rate, np.concatenate([late, sweep, tail]))
    subprocess.run([sox, "wire.wav", "highpass.wav", "highpass", "100"], cwd=folder, check=True)
    # The cabinet's samples taken at 48 kHz as they are, at a twentieth of their level (unclipped).
    subprocess.run([sox, cabinet_file, "-t", "f32", "cabinet.f32"], cwd=folder, check=True)
    cabinet = 0.05 * np.fromfile(os.path.join(folder, "cabinet.f32"), "<f4").astype(np.float64)
    cabinet_recording = fftconvolve(np.concatenate([late, sweep, tail]), cabinet)
    wavfile.write(os.path.join(folder, "cabinet.wav"), rate, cabinet_recording.astype(np.float32))
    for name in "wire", "highpass", "cabinet":
        check(name, folder, os.path.join(folder, name + ".wav"))
