#!/usr/bin/env python3
"""Draws the figure of a two-channel measurement with harmonics and checks, in the SVG
parsed as XML, what a reader would: axis titles, the frequency ticks in range and no
others, each channel's curves in its own colour, and the legend with each channel's
harmonics, latency and peak-to-noise."""
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

vellisk_ir = sys.argv[1]
NUMBERS = ["16000", "0.5", "50", "2000", "4", "0.5", "0.05", "0.01"]
rate, amplitude, hzstart, hzend, duration, silence, leadin, leadout = map(float, NUMBERS)

# The sweep file's formula, through y = g (x + 0.3 x^2 + 0.2 x^3) on two channels, the
# second 8 samples (0.5 ms) late.
n = int(rate * duration)
s = int(rate * silence)
logratio = math.log(2 * math.pi * hzend / (2 * math.pi * hzstart))
k_scale = 2 * math.pi * hzstart * duration / logratio
nin, nout = int(leadin * n), int(leadout * n)
ys = []
for t in range(2 * s + n):
    i = t - s
    x = 0.0
    if 0 <= i < n:
        taper = 1.0
        if i < nin:
            taper = (0.42 - 0.5 * math.cos(math.pi / (nin - 1) * i)) + 0.08 * math.cos(2 * math.pi / (nin - 1) * i)
        elif i >= n - nout:
            m = n - i
            taper = (0.42 - 0.5 * math.cos(math.pi / (nout - 1) * m)) + 0.08 * math.cos(2 * math.pi / (nout - 1) * m)
        x = amplitude * taper * math.sin(k_scale * (math.exp(i * logratio / n) - 1))
    ys.append(x + 0.3 * x * x + 0.2 * x * x * x)
frames = []
for t, y in enumerate(ys):
    frames += [y, 0.5 * ys[t - 8] if t >= 8 else 0.0]

with tempfile.TemporaryDirectory() as work:
    keep = os.environ.get("KEEP_FIGURE")
    with open(os.path.join(work, "rec.pcm"), "wb") as f:
        f.write(struct.pack("<%df" % len(frames), *frames))
    run = subprocess.run([vellisk_ir, "-c", "2", "-H", "3", "--plot", "fig.svg", *NUMBERS, "rec.pcm", "ir.wav"],
                         cwd=work, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "Figure written: fig.svg\n" in run.stdout, run.stdout
    root = ET.parse(os.path.join(work, "fig.svg")).getroot()
    if keep:
        import shutil; shutil.copy(os.path.join(work, "fig.svg"), keep)

SVG = "{http://www.w3.org/2000/svg}"
assert root.tag == SVG + "svg" and root.get("width") == "800pt" and root.get("height") == "600pt"

# Each text with its place on the page.
texts = []
for element in root.iter(SVG + "text"):
    where = re.search(r"matrix\([^)]* ([-\d.]+) ([-\d.]+)\)", element.get("transform"))
    texts.append(("".join(element.itertext()), float(where.group(1)), float(where.group(2))))
words = [t for t, _, _ in texts]
for title in ["Frequency (Hz)", "Level (dB), 1/6-octave smoothing", "Time from the zero instant (ms)",
              "Envelope (dB)", "zero instant", "Sweep from 50 Hz to 2000 Hz in 4 s at 16000 Hz"]:
    assert title in words, (title, words)
for entry in ["Channel 1", "Channel 2", "1: H2", "1: H3", "2: H2", "2: H3", "Latency,",
              "peak-to-noise", "1: 0.00 ms", "2: 0.50 ms"]:
    assert words.count(entry) == 1, (entry, words)
# Each channel's peak-to-noise in the legend, not channel 1's alone in the title.
assert sum(bool(re.fullmatch(r"[12]: \d+\.\d dB", w)) for w in words) == 2, words
assert not any("latency " in w.lower() for w in words), words

# The frequency ticks: the row of labels just above the axis title (PLplot's y
# grows upwards).
_, axis_x, axis_y = next(t for t in texts if t[0] == "Frequency (Hz)")
rows = sorted({round(y, 1) for _, _, y in texts if 0 < y - axis_y < 40})
ticks = [t for t, _, y in sorted(texts, key=lambda t: t[1]) if round(y, 1) == rows[0]]
assert ticks == ["50", "100", "200", "500", "1k", "2k"], ticks

# Every curve, harmonic or not, in its channel's colour: the legend's short lines
# have 2 points, a curve many.
points = {}
for line in root.iter(SVG + "polyline"):
    points[line.get("stroke")] = points.get(line.get("stroke"), 0) + len(line.get("points").split())
curves = {colour for colour, count in points.items() if count > 40 and colour not in ("#1E1E1E", "#DEDEDE")}
assert curves == {"#0072B2", "#D55E00"}, points
print("figure checked:", len(texts), "texts,", len(curves), "curves")
