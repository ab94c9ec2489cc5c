"""vellisk.correction: the fit of a response made of known peaks, in Python, its FIR, and its
refusals as ValueErrors in vellisk-eq's words."""
import numpy as np
import pytest
from scipy import signal

import vellisk


def peaking(f0, gain, q, rate):
    a, w0 = 10 ** (gain / 40), 2 * np.pi * f0 / rate
    alpha = np.sin(w0) / (2 * q)
    return [1 + alpha * a, -2 * np.cos(w0), 1 - alpha * a], [1 + alpha / a, -2 * np.cos(w0), 1 - alpha / a]


def test_a_response_of_peaks_is_corrected_and_its_fir_too():
    f = np.geomspace(20, 20000, 960)
    level = np.full_like(f, 75.0)
    for f0, g, q in (200, 7, 3), (2500, 4, 1.5):
        level += 20 * np.log10(np.abs(signal.freqz(*peaking(f0, g, q, 48000), worN=f, fs=48000)[1]))
    c = vellisk.correction(f, level, fir_length=40000, rates=[48000, 96000])
    assert c["error_before"]["rms_db"] > 1 and c["error_after"]["rms_db"] < 0.1, c
    assert all(x["type"] == "peaking" and x["gain_db"] < 0 for x in c["filters"])
    assert any(abs(x["frequency_hz"] - 200) < 10 for x in c["filters"]), c["filters"]
    pf, predicted = c["predicted"]
    inside = (pf > 40) & (pf < 10000)
    assert np.ptp(predicted[inside]) < 1.0
    assert [x["rate"] for x in c["fir"]] == [48000, 96000]
    for fir in c["fir"]:
        assert fir["taps"].dtype == np.float32 and len(fir["taps"]) == 40000
        assert np.argmax(np.abs(fir["taps"])) < fir["rate"] / 1000 and fir["latency_samples"] == 0
        assert fir["error_after"]["rms_db"] < c["error_before"]["rms_db"] / 4, fir["error_after"]


@pytest.mark.parametrize("keywords, says", [
    ({"filters": 0}, "--filters (0) must be 1 to 64"),
    ({"range": (5000, 100)}, "--range (5000-100) must be given low before high"),
    ({"rates": [16000], "range": (100, 10000)}, "--rate (16000) must be above twice"),
    ({"fir_length": 100}, "it needs at least 19200 taps"),
])
def test_refusals_name_the_options(keywords, says):
    f = np.geomspace(20, 20000, 100)
    with pytest.raises(ValueError, match=says.replace("(", r"\(").replace(")", r"\)")):
        vellisk.correction(f, np.zeros_like(f), **keywords)
