#!/usr/bin/env python3
"""The steps of vellisk-room in numpy and scipy, for the side-by-side benchmark and as a
cross-check: Butterworth band-passes from scipy (sosfilt on the time-reversed response),
onset, Lundeby's iteration, Schroeder's integral by cumulative sums, least-squares decay
times, and the energy parameters from the ringing time before the onset.

Usage: room_reference.py [--third] [--forward] file.f32 rate channels
Prints one line per channel and band: label T30 EDT C80 D50 Ts (blank when not given).
Each band is filtered after zeros for the longest band filter's ringing, and its last stretch,
where the backward filter starts from rest, is left out.
With --forward, the energy parameters come from forward-filtered bands counted from the onset.
"""
import sys

import numpy as np
from scipy import signal

G = 10 ** 0.3
OCTAVES = ["63", "125", "250", "500", "1k", "2k", "4k", "8k"]
THIRDS = ["50", "63", "80", "100", "125", "160", "200", "250", "315", "400", "500", "630", "800",
          "1k", "1.25k", "1.6k", "2k", "2.5k", "3.15k", "4k", "5k", "6.3k", "8k", "10k"]


def bands(third, rate):
    b, first, labels = (3, -13, THIRDS) if third else (1, -4, OCTAVES)
    out = []
    for i, label in enumerate(labels):
        centre = 1000 * G ** ((first + i) / b)
        lo, hi = centre * G ** (-1 / (2 * b)), centre * G ** (1 / (2 * b))
        if hi <= 0.45 * rate:
            out.append((label, centre, signal.butter(4, [lo, hi], "bandpass", fs=rate, output="sos")))
    return out


def db(e):
    return 10 * np.log10(np.maximum(e, 1e-300))


def smooth(sq, onset, m):
    k = (len(sq) - onset) // m
    blocks = sq[onset:onset + k * m].reshape(k, m).mean(axis=1)
    return onset + (np.arange(k) + 0.5) * m, db(blocks)


def fit_levels(t, level, low, high, before):
    top = np.argmax(level)
    sel = np.zeros(len(level), bool)
    sel[top:] = True
    sel &= (t <= before) & (level >= low) & (level <= high)
    if sel.sum() < 2:
        return None
    b, a = np.polyfit(t[sel], level[sel], 1)
    return (a, b) if b < 0 else None


def lundeby(sq, onset, rate, interval):
    n = len(sq)
    length = n - onset
    tenth = max(1, length // 10)
    noise = sq[n - tenth:].mean()
    m = int(np.clip(round(interval * rate), 1, max(1, tenth)))
    t, level = smooth(sq, onset, m)
    if noise <= 0:
        return dict(decay=True, inr=300, cross=n, comp=0.0, k=1.0)
    ndb = db(noise)
    line = fit_levels(t, level, ndb + 10, level.max(), n)
    if line is None:
        return dict(decay=False, inr=max(0, level.max() - ndb))
    cross = min(n, (ndb - line[0]) / line[1])
    m = int(np.clip(round(-10 / line[1] / 5), 1, max(1, tenth)))
    t, level = smooth(sq, onset, m)
    for _ in range(10):
        if len(level) < 2:
            break
        start = min(n - tenth, int(cross - 5 / line[1]))
        nz = sq[max(onset, start):].mean()
        if not nz > 0:
            break
        ndb = db(nz)
        late = fit_levels(t, level, ndb + 10, min(level.max(), ndb + 30), cross)
        if late is None:
            break
        nxt = np.clip((ndb - late[0]) / late[1], onset, n)
        noise, line = nz, late
        settled = abs(nxt - cross) < m
        cross = nxt
        if settled:
            break
    cross = int(np.clip(int(cross), onset + 1, n))
    k = -line[1] * np.log(10) / 10
    at = 10 ** ((line[0] + line[1] * cross) / 10)
    return dict(decay=True, inr=max(0, level.max() - db(noise)), cross=cross,
                comp=at * np.exp(-k) / -np.expm1(-k), k=k)


def decay_time(level, onset, last, rate, upper, lower):
    seg = level[onset:last + 1]
    i = np.argmax(seg <= upper) if upper < 0 else 0
    below = np.nonzero(seg[i:] < lower)[0]
    if len(below) == 0:
        return None
    j = i + below[0]
    b, _ = np.polyfit(np.arange(i, j) / rate, seg[i:j], 1)
    return -60 / b if b < 0 else None


def parameters(sq, onset, early, delay, rate, interval):
    nf = lundeby(sq, onset, rate, interval)
    if not nf["decay"]:
        return [None] * 5
    first, last = max(0, onset - early), nf["cross"]
    energy = np.empty(last - first + 1)
    energy[:-1] = np.cumsum(sq[first:last][::-1])[::-1] + nf["comp"]
    energy[-1] = nf["comp"]

    def remaining(i):
        return energy[i - first] if i <= last else nf["comp"] * np.exp(-nf["k"] * (i - last))

    level = np.full(last + 1, -np.inf)
    level[onset:] = db(energy[onset - first:] / remaining(onset))
    t30 = decay_time(level, onset, last, rate, -5, -35) if nf["inr"] >= 45 else None
    edt = decay_time(level, onset, last, rate, 0, -10) if nf["inr"] >= 20 else None
    origin = onset - delay
    total = remaining(first)
    late50 = remaining(max(first, int(round(origin + 0.05 * rate))))
    late80 = remaining(max(first, int(round(origin + 0.08 * rate))))
    moment = np.dot(np.arange(first, last) - origin, sq[first:last])
    if nf["comp"] > 0:
        moment += nf["comp"] * (last - origin + 1 / nf["k"])
    return [t30, edt, 10 * np.log10((total - late80) / late80), (total - late50) / total,
            1000 * moment / total / rate]


def ringing(sos, rate, fraction=1e-4):
    h = signal.sosfilt(sos, np.r_[1.0, np.zeros(int(np.ceil(4 * rate)) - 1)])
    e = np.cumsum(h * h)
    return int(np.argmax(e >= (1 - fraction) * e[-1])) + 1


def group_delay(sos, f, rate):
    step = 1e-4 * f
    _, h = signal.sosfreqz(sos, worN=[f - step, f + step], fs=rate)
    return -np.angle(h[1] / h[0]) / (2 * np.pi * 2 * step) * rate


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    third, forward = "--third" in sys.argv, "--forward" in sys.argv
    rate, channels = float(args[1]), int(args[2])
    x = np.fromfile(args[0], "<f4").astype(np.float64).reshape(-1, channels)
    plan = [(label, sos, ringing(sos, rate), group_delay(sos, centre, rate),
             np.clip(4 / (centre * (G ** (1 / (6 if third else 2)) - G ** (-1 / (6 if third else 2)))),
                     0.01, 0.05), ringing(sos, rate, 1e-2)) for label, centre, sos in bands(third, rate)]
    # Zeros before the response for the longest ringing, then every band of
    # every channel at once, as scipy filters along an axis.
    pad = max(p[2] for p in plan)
    x = np.concatenate([np.zeros((pad, channels)), x])
    filtered = [signal.sosfilt(p[1], x[::-1], axis=0)[::-1] for p in plan]
    forwards = [signal.sosfilt(p[1], x, axis=0) for p in plan] if forward else None
    for c in range(channels):
        ch = x[:, c]
        nz = np.nonzero(ch)[0]
        n = nz[-1] + 1 if len(nz) else 1
        sq = ch[:n] ** 2
        onset = int(np.argmax(sq >= sq.max() / 100))
        for b, (label, _, early, delay, interval, settle) in enumerate(plan):
            # The last stretch, where the backward filter starts from rest, left out.
            y = filtered[b][:max(n - settle, onset + (n - onset + 1) // 2), c] ** 2
            p = parameters(y, onset, early, delay, rate, interval)
            if forward:
                q = parameters(forwards[b][:n, c] ** 2, onset, 0, 0.0, rate, interval)
                p[2:] = q[2:]
            print(c + 1, label, *("" if v is None else f"{v:.4f}" for v in p))
        p = parameters(sq, onset, 0, 0.0, rate, 0.01)
        print(c + 1, "broadband", *("" if v is None else f"{v:.4f}" for v in p))


main()
