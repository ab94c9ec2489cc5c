"""vellisk --wav files, and vellisk-ir's WAV responses of 1 to 9 channels with their harmonics,
pass sox and scipy without a warning and hold the raw files' samples."""
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile

numbers = ["48000", "0.5", "20", "20000", "3", "0.5", "0.05", "0.005"]


def read_quietly(path, expected, channels):
    """Reads path with sox and scipy, neither saying a word, and checks its samples."""
    for command in ["sox", "--i", "-s", path], ["sox", path, "-n", "stat"]:
        run = subprocess.run(command, capture_output=True, text=True)
        assert run.returncode == 0 and "WARN" not in run.stderr, (command, run.stderr)
    assert run.stderr.startswith(f"Samples read:{len(expected):>18}\n"), run.stderr
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # "Chunk (non-data) not understood" and the like
        rate, samples = wavfile.read(path)
    assert rate == 48000 and samples.dtype == np.float32, (rate, samples.dtype)
    assert samples.shape == ((len(expected),) if channels == 1 else (len(expected) // channels, channels))
    assert np.array_equal(samples.reshape(-1).view("<u4"), expected.view("<u4")), path


with tempfile.TemporaryDirectory() as folder:
    for options, names in (["--wav"], ["s.wav", "i.wav"]), ([], ["s.pcm", "i.pcm"]):
        subprocess.run([sys.argv[1], *options, *numbers, *names], cwd=folder, check=True,
                       capture_output=True)
    for wav, raw in ("s.wav", "s.pcm"), ("i.wav", "i.pcm"):
        read_quietly(os.path.join(folder, wav), np.fromfile(os.path.join(folder, raw), "<f4"), 1)
    # The sweep through channels of differing gains, as vellisk-ir's recording.
    sweep = np.fromfile(os.path.join(folder, "s.pcm"), "<f4")
    for channels in (1, 2, 9) if len(sys.argv) > 2 else ():
        recording = np.outer(sweep, 0.1 + np.arange(channels) / 10).astype("<f4")
        recording.tofile(os.path.join(folder, "rec.f32"))
        for out in "ir.wav", "ir.f32":
            subprocess.run([sys.argv[2], "-c", str(channels), "-H", "2", "-l", "0.2", *numbers,
                            "rec.f32", out], cwd=folder, check=True, capture_output=True)
        for wav, raw in ("ir.wav", "ir.f32"), ("ir-h2.wav", "ir-h2.f32"):
            read_quietly(os.path.join(folder, wav), np.fromfile(os.path.join(folder, raw), "<f4"),
                         channels)
