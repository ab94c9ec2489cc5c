"""vellisk-ir's --curves against the true systems, computed here independently of the program.
Minimum phase: the folded real cepstrum of the true system's log magnitude on a dense grid, within
1 degree from twice the band's low edge to half its top, for a measured guitar cabinet flat to 0 Hz
(guitarix-common's EVH 5150, at its own 44.1 kHz and a tenth of its gain), sox's highpass 100 and a
2nd-order Butterworth high-pass at 40 Hz (scipy). Group delay: the true one (scipy's of the
biquads, the transform of t h(t) for the cabinet) within 0.1 ms on every row written, on those and
a wire and sox's allpass; rows are written from 1.5 times the band's low edge at the
latest, and a row without its group delay has no excess group delay either.
Arguments: vellisk, vellisk-ir, sox."""
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy.io import wavfile
from scipy.signal import butter, fftconvolve, freqz, group_delay, lfilter

vellisk, vellisk_ir, sox = sys.argv[1:4]
cabinet_file = "/usr/share/gx_head/sounds/amps/EVH 5150 III.wav"
late = 96  # samples the recordings lag the sweep
dense = 1 << 21


def cookbook(kind, f0, q, rate):
    """The audio EQ cookbook's biquad, as sox runs it."""
    w = 2 * np.pi * f0 / rate
    c, alpha = np.cos(w), np.sin(w) / (2 * q)
    if kind == "highpass":
        b = [(1 + c) / 2, -(1 + c), (1 + c) / 2]
    else:
        b = [1 - alpha, -2 * c, 1 + alpha]
    a = [1 + alpha, -2 * c, 1 - alpha]
    return np.array(b) / a[0], np.array(a) / a[0]


def cepstrum_phase(magnitude):
    """Minimum phase (radians, unwrapped) of |H| at bins 0 to N/2 of a transform of `dense`."""
    log = np.log(np.maximum(magnitude, 1e-300))
    log[0] = log[1]
    c = np.fft.irfft(log, dense)
    folded = np.zeros(dense)
    folded[0], folded[dense // 2] = c[0], c[dense // 2]
    folded[1:dense // 2] = 2 * c[1:dense // 2]
    return np.unwrap(np.fft.rfft(folded).imag)


def curves(folder, design, recording):
    rate = float(design[0])
    wavfile.write(os.path.join(folder, "rec.wav"), int(rate), recording.astype(np.float32))
    subprocess.run([vellisk_ir, "--curves", "c.csv", *design, "rec.wav", "ir.wav"], cwd=folder,
                   check=True, capture_output=True)
    text = open(os.path.join(folder, "c.csv")).read()
    arrival = float(re.search(r"Delay removed from the phase: \S+ ms \((\S+) samples\)", text)[1])
    low, high = map(float, re.search(r"# Band: (\S+) Hz to (\S+) Hz", text).groups())
    rows = np.genfromtxt([l for l in text.splitlines() if l[0].isdigit()], delimiter=",")
    return rows, (late - arrival) * 1000 / rate, low, high


def check(name, rows, residual, low, high, rate, true_magnitude, true_delay_ms):
    f = rows[:, 0]
    written = np.isfinite(rows[:, 3])
    assert np.array_equal(written, np.isfinite(rows[:, 5])), name
    assert written[f >= low * 1.5].all(), (name, f[~written].max())
    error = np.abs(rows[written, 3] - true_delay_ms(f[written]) - residual)
    print(f"{name}: group delay from {f[written][0]:.2f} Hz (band from {low} Hz), "
          f"within {error.max():.3f} ms")
    assert error.max() <= 0.1, (name, f[written][error.argmax()], error.max())
    if true_magnitude is None:
        return
    grid = np.arange(dense // 2 + 1) * rate / dense
    truth = np.degrees(np.interp(f, grid, cepstrum_phase(true_magnitude(grid))))
    inside = (f >= 2 * low) & (f <= high / 2)
    off = np.abs((rows[inside, 4] - truth[inside] + 180) % 360 - 180)
    print(f"{name}: minimum phase within {off.max():.3f} degrees from {2 * low} to {high / 2} Hz")
    assert off.max() <= 1, (name, f[inside][off.argmax()], off.max())


def biquad(ba, rate):
    magnitude = lambda hz: np.abs(freqz(*ba, worN=hz, fs=rate)[1])
    delay = lambda hz: group_delay(ba, w=hz, fs=rate)[1] * 1000 / rate
    return magnitude, delay


def fir(h, rate):
    magnitude = lambda hz: np.abs(np.fft.rfft(h, dense))[:len(hz)]

    def delay(hz):
        k = np.arange(len(h))
        e = np.exp(-2j * np.pi * np.outer(hz, k) / rate)
        return np.real((e @ (k * h)) / (e @ h)) * 1000 / rate
    return magnitude, delay


with tempfile.TemporaryDirectory() as folder:
    for rate in 48000, 44100:
        design = [str(rate), "0.5", "20", "20000", "10", "1", "0.05", "0.005"]
        subprocess.run([vellisk, *design, "sweep.pcm", "inverse.pcm"], cwd=folder, check=True,
                       capture_output=True)
        sweep = np.fromfile(os.path.join(folder, "sweep.pcm"), "<f4").astype(np.float64)
        played = np.concatenate([np.zeros(late), sweep, np.zeros(rate)])
        if rate == 44100:
            # The cabinet at its own rate: above the band, up to its Nyquist frequency, its level
            # moves little, and the minimum phase below the band's top holds.
            file_rate, h = wavfile.read(cabinet_file)
            assert file_rate == rate
            h = 0.1 * h.astype(np.float64) / 2 ** 31
            rows, residual, low, high = curves(folder, design, fftconvolve(played, h))
            check("cabinet", rows, residual, low, high, rate, *fir(h, rate))
            continue
        rows, residual, low, high = curves(folder, design, played)
        check("wire", rows, residual, low, high, rate, None, lambda hz: 0 * hz)
        butterworth = butter(2, 40, "highpass", fs=rate)
        rows, residual, low, high = curves(folder, design, lfilter(*butterworth, played))
        check("highpass 40 Hz", rows, residual, low, high, rate, *biquad(butterworth, rate))
        wavfile.write(os.path.join(folder, "played.wav"), rate, played.astype(np.float32))
        for effect, system, minimum in (("highpass 100", cookbook("highpass", 100, 0.5 ** 0.5, rate), True),
                                        ("allpass 300 0.7q", cookbook("allpass", 300, 0.7, rate), False)):
            subprocess.run([sox, "played.wav", "-e", "floating-point", "sox.wav", *effect.split()],
                           cwd=folder, check=True)
            recording = wavfile.read(os.path.join(folder, "sox.wav"))[1].astype(np.float64)
            magnitude, delay = biquad(system, rate)
            rows, residual, low, high = curves(folder, design, recording)
            check("sox " + effect, rows, residual, low, high, rate, magnitude if minimum else None, delay)
