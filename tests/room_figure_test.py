#!/usr/bin/env python3
"""Draws vellisk-room's figure of 1, 2, 4 and 8 channels, in octaves and third-octaves, and
checks in the SVG parsed as XML what a reader would: no text overlapping another or leaving
the page, every band named, the octave curves' colours at least 20 apart in CIE 1976 L*a*b*,
the rows on the same axes, and T20 marked where T30 is missing."""
import itertools
import math
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

vellisk_room = sys.argv[1]
RATE = 32000
SVG = "{http://www.w3.org/2000/svg}"
CHAR_WIDTH = 0.62  # of the font size: the widest mean advance of sans-serif text


def response(channels):
    """Decaying noise, T from 0.5 s up; the last of several over a floor 40 dB down, too high for
    T30."""
    rng = random.Random(26)
    n = int(1.6 * RATE)
    frames = [0.0] * (n * channels)
    for c in range(channels):
        floor = 0.01 if c == channels - 1 and channels > 1 else 1e-4
        t60 = 0.5 + 0.15 * c
        for i in range(n):
            t = i / RATE - 0.01
            v = floor * rng.uniform(-1, 1)
            if 0 <= t:
                v += math.exp(-6.9078 * t / t60) * rng.uniform(-1, 1)
            frames[i * channels + c] = v
    return struct.pack("<%df" % len(frames), *frames)


def lab(colour):
    rgb = [int(colour[i:i + 2], 16) / 255 for i in (1, 3, 5)]
    rgb = [v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4 for v in rgb]
    x = (0.4124 * rgb[0] + 0.3576 * rgb[1] + 0.1805 * rgb[2]) / 0.95047
    y = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]
    z = (0.0193 * rgb[0] + 0.1192 * rgb[1] + 0.9505 * rgb[2]) / 1.08883
    f = [v ** (1 / 3) if v > 0.008856 else 7.787 * v + 16 / 116 for v in (x, y, z)]
    return 116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])


def boxes(root, height):
    """Each text's box on the page, y downwards: (text, left, top, right, bottom)."""
    out = []
    for element in root.iter(SVG + "text"):
        text = "".join(element.itertext())
        if not text.strip():
            continue
        a, b, c, d, e, f = map(float, re.search(r"matrix\(([^)]*)\)", element.get("transform")).group(1).split())
        size = float(element.get("font-size"))
        width = CHAR_WIDTH * size * len(text)
        shift = {"start": 0, "middle": -0.5, "end": -1}[element.get("text-anchor", "start")]
        # The text runs along (a, b) from its anchor; PLplot's page has y upwards.
        x0, y0 = e + shift * width * a, f + shift * width * b
        x1, y1 = x0 + width * a, y0 + width * b
        up = (-b * size * 0.8, a * size * 0.8)  # ascender, perpendicular to the text
        xs = [x0, x1, x0 + up[0], x1 + up[0]]
        ys = [y0 - 0.2 * size * a, y1, y0 + up[1], y1 + up[1]]
        out.append((text, min(xs), height - max(ys), max(xs), height - min(ys)))
    return out


def check(svg_path, channels, third):
    root = ET.parse(svg_path).getroot()
    width, height = float(root.get("width").rstrip("pt")), float(root.get("height").rstrip("pt"))
    everything = boxes(root, height)
    texts = [t for t, *_ in everything]
    found = [b for b in everything if b[0] not in ("●", "◇", "▲")]  # the marks are data
    for text, left, top, right, bottom in found:
        assert left >= 0 and top >= 0 and right <= width and bottom <= height, ("off the page", text)
    for (s, l1, t1, r1, b1), (u, l2, t2, r2, b2) in itertools.combinations(found, 2):
        overlap = min(r1, r2) - max(l1, l2) > 1 and min(b1, b2) - max(t1, t2) > 1
        assert not overlap, ("texts collide", s, u, (l1, t1, r1, b1), (l2, t2, r2, b2))
    labels = (["50", "63", "80", "100", "125", "160", "200", "250", "315", "400", "500", "630", "800", "1k",
               "1.25k", "1.6k", "2k", "2.5k", "3.15k", "4k", "5k", "6.3k", "8k", "10k"] if third else
              ["63", "125", "250", "500", "1k", "2k", "4k", "8k"])
    for label in labels + ["broadband"]:
        assert texts.count(label) >= channels, (label, texts.count(label))
    for c in range(channels):
        assert texts.count("channel.f32, channel %d" % (c + 1)) == 1, texts
    # The curves: polylines of many points, a colour each (a style each in thirds).
    strokes = {}
    for line in root.iter(SVG + "polyline"):
        if len(line.get("points").split()) > 20:
            strokes[line.get("stroke")] = strokes.get(line.get("stroke"), 0) + 1
    curves = [c for c in strokes if c not in ("#1E1E1E", "#DEDEDE", "#0072B2", "#D55E00")]
    if not third:
        assert len(curves) == 9, strokes
        for a, b in itertools.combinations(curves, 2):
            distance = math.dist(lab(a), lab(b))
            assert distance >= 20, ("colours too near", a, b, distance)
    # Every row on the same axes: the same tick labels on each decay panel's time axis.
    rows = {}
    for text, left, top, right, bottom in found:
        if re.fullmatch(r"\d\.\d", text) and left < 0.45 * width:
            rows.setdefault(round(top), []).append(text)
    axes = [tuple(v) for k, v in sorted(rows.items()) if len(v) >= 3]
    assert len(axes) == channels and len(set(axes)) == 1, axes
    # The noisy channel has T20 (marked) where it has no T30.
    if channels > 1:
        assert "▲" in texts, "no T20 mark"


with tempfile.TemporaryDirectory() as work:
    for channels in (1, 2, 4, 8):
        with open(os.path.join(work, "channel.f32"), "wb") as f:
            f.write(response(channels))
        for third in (False, True):
            run = subprocess.run([vellisk_room, "-r", str(RATE), "-c", str(channels), "-b",
                                  "third" if third else "octave", "--plot", "fig.svg", "channel.f32"],
                                 cwd=work, capture_output=True, text=True)
            assert run.returncode == 0, run.stderr
            if os.environ.get("KEEP_FIGURE"):
                import shutil
                shutil.copy(os.path.join(work, "fig.svg"), "%s-%d-%s.svg" % (os.environ["KEEP_FIGURE"], channels,
                                                                            "third" if third else "octave"))
            check(os.path.join(work, "fig.svg"), channels, third)
print("figures checked: 1, 2, 4 and 8 channels, octaves and thirds")
