"""vellisk --wav files pass sox and scipy without a warning and hold the raw files' samples."""
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile

numbers = ["48000", "0.5", "20", "20000", "3", "0.5", "0.05", "0.005"]
with tempfile.TemporaryDirectory() as folder:
    for options, names in (["--wav"], ["s.wav", "i.wav"]), ([], ["s.pcm", "i.pcm"]):
        subprocess.run([sys.argv[1], *options, *numbers, *names], cwd=folder, check=True,
                       capture_output=True)
    for wav, raw in ("s.wav", "s.pcm"), ("i.wav", "i.pcm"):
        path = os.path.join(folder, wav)
        expected = np.fromfile(os.path.join(folder, raw), "<f4")
        for command in ["sox", "--i", "-s", path], ["sox", path, "-n", "stat"]:
            run = subprocess.run(command, capture_output=True, text=True)
            assert run.returncode == 0 and "WARN" not in run.stderr, (command, run.stderr)
        assert run.stderr.startswith(f"Samples read:{len(expected):>18}\n"), run.stderr
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # "Chunk (non-data) not understood" and the like
            rate, samples = wavfile.read(path)
        assert rate == 48000 and samples.dtype == np.float32, (rate, samples.dtype)
        assert np.array_equal(samples.view("<u4"), expected.view("<u4")), wav
