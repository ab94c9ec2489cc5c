"""A wire's response file and step response against the band limit the JSON report names, rebuilt
here with scipy from its sections and, independently, from scipy's own Butterworth design at its
corners: the file within -60 dB of the peak, nothing ahead of the arrival above -60 dB, the step
within 0.01 at every sample, and the arrival the wire's own delay. Sweeps at 48 kHz to 20 kHz
(10 s and 2 s), 44.1 kHz with short fades, and 48 kHz to 10 kHz, whose top is a sharp edge.
Arguments: vellisk, vellisk-ir, sox."""
import json
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy import signal
from scipy.io import wavfile

vellisk, vellisk_ir, sox = sys.argv[1:4]
designs = [["48000", "0.5", "20", "20000", "10", "1", "0.05", "0.005"],
           ["48000", "0.5", "20", "20000", "2", "1", "0.05", "0.005"],
           ["44100", "0.5", "10", "20000", "3", "1", "0.02", "0.02"],
           ["48000", "0.5", "100", "10000", "2", "0.5", "0.01", "0.01"]]
delay_ms = 3
failures = []


def check(name, value, limit):
    print(f"  {name}: {value:.4g} (limit {limit})")
    if not value <= limit:
        failures.append(f"{name} {value:.4g} > {limit}")


def measure(folder, design):
    run = lambda *a: subprocess.run(a, cwd=folder, check=True, capture_output=True, text=True)
    run(vellisk, "--wav", *design, "sweep.wav", "inverse.wav")
    run(sox, "sweep.wav", "wire.wav", "pad", f"{delay_ms / 1000}", "0.5")
    out = run(vellisk_ir, "--json", "r.json", "--step", "step.wav", "--sweep", "sweep.wav",
              "wire.wav", "ir.wav").stdout
    report = json.load(open(os.path.join(folder, "r.json")))
    rate, ir = wavfile.read(os.path.join(folder, "ir.wav"))
    step = wavfile.read(os.path.join(folder, "step.wav"))[1]
    arrival = float(re.search(r"arrival (\S+) samples", out)[1])
    return report, rate, ir.astype(float), step.astype(float), arrival


for design in designs:
    print(" ".join(design))
    with tempfile.TemporaryDirectory() as folder:
        report, rate, ir, step, arrival = measure(folder, design)
    band = report["band_filter"]
    sos = np.array(band["sections"])
    scipy_sos = np.vstack([signal.butter(band["highpass_order"], band["highpass_hz"], "highpass",
                                         fs=rate, output="sos"),
                           signal.butter(band["lowpass_order"], band["lowpass_hz"], "lowpass",
                                         fs=rate, output="sos")])
    f = np.geomspace(1, rate / 2 * 0.999, 2000)
    _, h_json = signal.sosfreqz(sos, worN=f, fs=rate)
    _, h_scipy = signal.sosfreqz(scipy_sos, worN=f, fs=rate)
    check("sections against scipy's Butterworth, dB", 20 * np.log10(np.max(abs(h_json - h_scipy))), -100)
    low, high = report["band"]["low_hz"], report["band"]["high_hz"]
    _, at_edges = signal.sosfreqz(sos, worN=[low, high], fs=rate)
    check("loss at the band's low edge off its stated dB",
          abs(-20 * np.log10(abs(at_edges[0])) - band["highpass_down_db"]), 0.05)
    check("loss at the band's top off its stated dB",
          abs(-20 * np.log10(abs(at_edges[1])) - band["lowpass_down_db"]), 0.05)
    zero = report["window"]["zero_instant_sample"] + round(delay_ms * rate / 1000)
    impulse = np.zeros(len(ir))
    impulse[zero] = 1
    truth = signal.sosfilt(sos, impulse)
    peak = np.max(np.abs(truth))
    check("file against the rebuilt filter, dB re peak", 20 * np.log10(np.max(abs(ir - truth)) / peak), -60)
    check("largest sample before the arrival, dB re peak", 20 * np.log10(np.max(abs(ir[:zero])) / peak), -60)
    check("step against the filter's step", np.max(abs(step - np.cumsum(truth))), 0.01)
    check("arrival off the wire's delay (whole samples, as sox pads), samples",
          abs(arrival - round(delay_ms * rate / 1000)), 0.02)

with tempfile.TemporaryDirectory() as folder:
    subprocess.run([vellisk, "--wav", *designs[1], "sweep.wav", "inverse.wav"], cwd=folder,
                   check=True, capture_output=True)
    subprocess.run([vellisk_ir, "--uncompensated", "--json", "r.json", "--sweep", "sweep.wav",
                    "sweep.wav", "ir.wav"], cwd=folder, check=True, capture_output=True)
    if json.load(open(os.path.join(folder, "r.json")))["band_filter"] is not None:
        failures.append("an uncompensated response names a band filter")

if failures:
    sys.exit("FAILED: " + "; ".join(failures))
print("ok")
