"""The Python module against independent truths (a delay, gain and square's closed-form
responses and harmonic, a scipy filter's response, exponential decays' closed-form room values,
the golden sweep files, the refusals' words) and, in one test of the views and calibration,
against vellisk-ir's files and report on the same samples. VELLISK_BIN names the programs'
folder, VELLISK_TEST_DATA the golden files'."""
import json
import os
import pathlib
import shutil
import signal
import subprocess
import threading
import time

import numpy as np
import pytest
from scipy import signal as filters
from scipy.io import wavfile

import vellisk

BIN = os.environ["VELLISK_BIN"]
DATA = os.environ["VELLISK_TEST_DATA"]
DESIGN = [8000, 0.5, 50, 3000, 2, 0.5, 0.05, 0.01]
NUMBERS = [f"{n:g}" for n in DESIGN]
# IEC 60268-16's modulation frequencies, Hz.
MODULATION_HZ = [0.63, 0.8, 1, 1.25, 1.6, 2, 2.5, 3.15, 4, 5, 6.3, 8, 10, 12.5]


def run(program, args, folder):
    done = subprocess.run([os.path.join(BIN, program), *args], cwd=folder, capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    return done


def band_limit(report, f):
    """The band limit a response holds at f, rebuilt from the sections its report names (1
    uncompensated)."""
    named = report["band_filter"]
    if named is None:
        return np.ones(len(f))
    return filters.sosfreqz(np.array(named["sections"]), worN=f, fs=named["rate_hz"])[1]


def recording():
    """Three channels: a system with a second harmonic, the same at -79 dBFS (a low recording),
    and one peaking 1.35 times over full scale (clipped); 1.5 s of room after the sweep file."""
    s, _ = vellisk.sweep(*DESIGN)
    y = np.zeros(len(s) + 12000, np.float32)
    y[37:37 + len(s)] += np.float32(0.4) * s
    y[40:40 + len(s)] += np.float32(0.1) * s * s
    return np.stack([y, y * np.float32(5e-4), y * np.float32(6)], axis=1)


def csv_columns(path):
    """A --curves or --waterfall file's columns by name, past its '#' lines."""
    lines = [line for line in path.read_text().splitlines() if not line.startswith("#")]
    rows = np.array([[float(x) if x else np.nan for x in line.split(",")] for line in lines[1:]])
    return dict(zip(lines[0].split(","), rows.T))


def assert_printed(got, printed, decimals, degrees=False):
    """got equals what the file printed with that many decimals (phases modulo 360); a value
    not given (NaN) is left empty."""
    assert np.array_equal(np.isnan(got), np.isnan(printed))
    got, printed = got[~np.isnan(got)], printed[~np.isnan(printed)]
    diff = (got - printed + 180) % 360 - 180 if degrees else got - printed
    assert np.max(np.abs(diff)) <= 0.5 * 10.0 ** -decimals + 1e-9


def test_sweep_is_vellisks_files_bit_for_bit(tmp_path):
    golden = [8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02]
    sweep, inverse = vellisk.sweep(*golden)
    for got, name in (sweep, "sweep.pcm"), (inverse, "inverse.pcm"):
        assert got.dtype == np.float32
        assert np.array_equal(got.view("<u4"), np.fromfile(os.path.join(DATA, name), "<u4")), name
    assert vellisk.__version__ in run("vellisk", ["--version"], tmp_path).stdout


@pytest.mark.parametrize("keywords", [
    dict(harmonics=2),
    dict(harmonics=3, gate=20, smooth=6, uncompensated=True),
    dict(pre=0.05, length=0.5, align=True, drift=12),
])
def test_impulse_response_is_each_channels_delay_gain_and_harmonic(keywords):
    """The recording's channels are the sweep s = A sin(phi), A = 0.5, times g = 0.4, 2e-4 and
    2.4, 37 samples late, plus 0.25 g s(t - 40)^2, whose second harmonic is g A^2 / 8: in the
    band (to 1.9 kHz, where that harmonic stays below Nyquist) the response is
    g e^(-i w 37 / 8000) from the zero instant, the second harmonic's level (over the sweep's
    A) g / 16, and a third harmonic nil. A drift of 12 ppm corrected in a recording without one moves it by
    at most 12 ppm of its 36000 frames. The report and warnings give the gains, the peaks
    and the samples at full scale."""
    y = recording()
    got = vellisk.impulse_response(y, 8000, DESIGN, **keywords)
    pre, length = keywords.get("pre", 0.1), keywords.get("length", 1)
    gains = 0.4 * np.array([1, 5e-4, 6])
    shift = 12e-6 * len(y) if "drift" in keywords else 0.05
    assert got.ir.dtype == np.float32 and got.ir.shape == (round((pre + length) * 8000), 3)
    f = np.fft.rfftfreq(len(got.ir), 1 / 8000)
    band = (f > 300) & (f < 1900)
    h = np.fft.rfft(got.ir.astype(float), axis=0)[band] / gains
    h *= np.exp(2j * np.pi * f[band] * (pre + 37 / 8000))[:, None]
    h /= band_limit(got.report, f[band])[:, None]
    assert np.max(np.abs(20 * np.log10(np.abs(h)))) < 0.01
    assert np.max(np.abs(np.angle(h))) < 2 * np.pi * 1900 * shift / 8000
    assert len(got.harmonics) == keywords.get("harmonics", 1) - 1
    for k, harmonic in enumerate(got.harmonics, 2):
        f = np.fft.rfftfreq(len(harmonic), 1 / 8000)
        band = (f > 300) & (f < 1900)
        level = np.abs(np.fft.rfft(harmonic.astype(float), axis=0)[band])
        level /= np.abs(band_limit(got.report, f[band]))[:, None]
        if k == 2:
            assert np.max(np.abs(20 * np.log10(level * 16 / gains))) < 0.06
        else:
            assert np.max(level / gains) < 1e-4
    peaks, clipped = np.max(np.abs(y), axis=0), np.sum(np.abs(y) >= 1, axis=0)
    assert [w.split(":")[0] for w in got.warnings] == ["channel 2", "channel 3"]
    assert f"{20 * np.log10(peaks[1]):.1f} dBFS" in got.warnings[0]
    assert f"{clipped[2]} samples of the recording are at full scale" in got.warnings[1]
    for c, channel in enumerate(got.report["channels"]):
        assert channel["gain_db"] == pytest.approx(20 * np.log10(gains[c]), abs=0.01)
        assert channel["arrival_samples"] == pytest.approx(37, abs=shift)
        assert channel["recorded_peak_dbfs"] == pytest.approx(20 * np.log10(peaks[c]), abs=1e-4)
        assert channel["clipped_samples"] == clipped[c]


def test_views_and_calibration_are_vellisk_irs_files(tmp_path, monkeypatch):
    """The module and the program agree: the design from the sweep's WAV file, the responses,
    the curves, step and waterfall, calibrated by a microphone file and a calibrator, and the
    warnings and report, against vellisk-ir's files and report from the same samples."""
    monkeypatch.chdir(tmp_path)
    y = recording()
    y.tofile("rec.f32")
    # A microphone +2 dB and -10 degrees above 1 kHz; a calibrator's 1 kHz tone of 0.1 rms.
    pathlib.Path("mic.txt").write_text("* Freq dB deg\n10 0 0\n999.9 0 0\n1000 2 -10\n4000 2 -10\n")
    tone = 0.1 * np.sqrt(2) * np.sin(2 * np.pi * 1000 * np.arange(8000) / 8000)
    wavfile.write("cal.wav", 8000, tone.astype(np.float32))
    run("vellisk", ["--wav", *NUMBERS, "sweep.wav", "inverse.wav"], tmp_path)
    done = run("vellisk-ir", ["-c", "3", "--sweep", "sweep.wav", "--json", "r.json", "-H", "2",
                              "--curves", "c.csv", "--step", "step.wav", "--waterfall", "w.csv",
                              "--waterfall-range", "30", "--mic-cal", "mic.txt",
                              "--spl-cal", "cal.wav", "94", "rec.f32", "ir.f32"], tmp_path)
    got = vellisk.impulse_response(y, 8000, pathlib.Path("inverse.wav"), harmonics=2,
                                   curves=True, step=True, waterfall=True, waterfall_range=30,
                                   mic_cal="mic.txt", spl_cal=(pathlib.Path("cal.wav"), 94),
                                   name="rec.f32")
    rate, step = wavfile.read("step.wav")
    assert rate == 8000 and got.step.dtype == np.float32 and np.array_equal(got.step, step)
    decimals = dict(frequency_hz=3, level_db=2, phase_deg=2, group_delay_ms=4, min_phase_deg=2,
                    excess_group_delay_ms=4)
    for c in range(3):
        file = csv_columns(tmp_path / f"c-c{c + 1}.csv")
        assert list(got.curves[c]) == list(file)
        for column, values in file.items():
            assert got.curves[c][column].shape == values.shape
            assert_printed(got.curves[c][column], values, decimals[column], column.endswith("deg"))
        w = got.waterfall[c]
        file = csv_columns(tmp_path / f"w-c{c + 1}.csv")
        slices, points = len(w["time_ms"]), len(w["frequency_hz"])
        assert w["level_db"].shape == (slices, points) == (101, len(file["time_ms"]) // 101)
        assert_printed(np.repeat(w["time_ms"], points), file["time_ms"], 3)
        assert_printed(np.tile(w["frequency_hz"], slices), file["frequency_hz"], 3)
        assert_printed(w["level_db"].ravel(), file["level_db"], 2)
    assert [f"Warning: {x}\n" for x in got.warnings] == done.stderr.splitlines(keepends=True)
    expected = json.loads((tmp_path / "r.json").read_text())
    expected["recording"].update(format="samples in memory", rate_hz=8000)
    expected.pop("outputs")
    assert expected["level_unit"] == "dB SPL" and expected["calibration"]["mic_file"] == "mic.txt"
    assert {k: v for k, v in got.report.items() if k != "outputs"} == expected
    # Without the switches, nothing of the views is computed.
    plain = vellisk.impulse_response(y, 8000, "sweep.wav")
    assert plain.curves is None and plain.step is None and plain.waterfall is None


def test_any_float_dtype_and_layout_gives_the_same_response():
    y = recording()[:, :2]
    ref = vellisk.impulse_response(y, 8000, DESIGN, harmonics=2)
    for dtype in np.float64, np.longdouble:
        same = vellisk.impulse_response(y.astype(dtype), 8000, DESIGN, harmonics=2)
        assert np.array_equal(same.ir, ref.ir) and np.array_equal(same.harmonics[0], ref.harmonics[0])
    # Fortran order and a strided view are read as the frames x channels they are.
    assert np.array_equal(vellisk.impulse_response(np.asfortranarray(y), 8000, DESIGN, harmonics=2).ir,
                          ref.ir)
    one = vellisk.impulse_response(y[:, 1].copy(), 8000, DESIGN).ir
    assert np.array_equal(vellisk.impulse_response(y[:, 1:], 8000, DESIGN).ir, one)
    assert one.shape == (ref.ir.shape[0], 1)
    np.testing.assert_allclose(one[:, 0], ref.ir[:, 1], rtol=0, atol=1e-7)
    half = y[:, :1].astype(np.float16)
    assert np.array_equal(vellisk.impulse_response(half, 8000, DESIGN).ir,
                          vellisk.impulse_response(half.astype(np.float32), 8000, DESIGN).ir)


def test_a_butterworth_highpass_measures_as_its_closed_form():
    rate, design = 48000, [48000, 0.5, 20, 20000, 3, 0.5, 0.05, 0.005]
    sweep, _ = vellisk.sweep(*design)
    sos = filters.butter(4, 200, "highpass", fs=rate, output="sos")
    recorded = filters.sosfilt(sos, np.concatenate([sweep, np.zeros(rate)]))
    got = vellisk.impulse_response(recorded, rate, design, pre=0.1, length=1.0)
    assert got.warnings == []
    f = np.fft.rfftfreq(len(got.ir), 1 / rate)
    measured = np.fft.rfft(got.ir[:, 0].astype(float)) / band_limit(got.report, f)
    _, truth = filters.sosfreqz(sos, worN=f, fs=rate)
    # Level to 0.05 dB from 60 Hz (the filter 42 dB down) to 16 kHz; phase, the zero instant at
    # sample pre x rate, to 1 degree where the edge filter at the band's low end leaves it.
    band = (f > 60) & (f < 16000)
    db = 20 * np.log10(np.abs(measured[band]) / np.abs(truth[band]))
    assert np.max(np.abs(db)) < 0.05
    band = (f > 150) & (f < 16000)
    turn = np.angle(measured[band] * np.exp(2j * np.pi * f[band] * 0.1) / truth[band], deg=True)
    assert np.max(np.abs(turn)) < 1


@pytest.mark.parametrize("bands, width", [("octave", 0.71), ("third", 0.23)])
def test_room_parameters_of_exponential_decays_are_their_closed_forms(bands, width):
    """Gaussian noise of energy e^(-a t), a = 13.8 / T, from 50 ms on. In every band, T20 and
    T30 are T within three of ISO 3382-2's standard deviations, 0.88 T sqrt((1 + 1.90 / n) /
    (B T)) and 0.55 T sqrt((1 + 1.52 / n) / (B T)), n = 10 for an integrated impulse
    response, B = width x centre. The broadband's EDT is T, D50 1 - e^(-0.05 a), C80
    10 lg(e^(0.08 a) - 1), Ts 1 / a; the STI that of m(F) = 1 / sqrt(1 + (2 pi F T / 13.8)^2)
    in every band. Values come rounded as the reports give them."""
    rate = 48000
    rng = np.random.default_rng(7)
    t = np.arange(int(1.5 * rate)) / rate
    decays = [np.exp(-6.9 * t / 0.8), np.exp(-6.9 * t / 1.3)]
    ir = np.stack([rng.standard_normal(len(t)) * d for d in decays], axis=1) * 0.3
    ir = np.concatenate([np.zeros((2400, 2)), ir]).astype(np.float32)
    got = vellisk.room_parameters(ir, rate, bands)
    for channel, time in zip(got["channels"], (0.8, 1.3)):
        assert channel["onset_s"] == pytest.approx(2400 / rate, abs=2e-3)
        *octaves, broadband = channel["bands"]
        assert len(octaves) == (8 if bands == "octave" else 24) and broadband["band"] == "broadband"
        for band in octaves:
            bt = width * band["centre_hz"] * time
            assert band["t20_s"] == pytest.approx(time, rel=3 * 0.88 * np.sqrt(1.19 / bt))
            assert band["t30_s"] == pytest.approx(time, rel=3 * 0.55 * np.sqrt(1.152 / bt))
            assert (band["t30_s"], band["c80_db"]) == (round(band["t30_s"], 3), round(band["c80_db"], 2))
        assert broadband["t30_s"] == pytest.approx(time, rel=0.03)
        assert broadband["edt_s"] == pytest.approx(time, rel=0.1)
        a = 13.8 / time
        assert broadband["d50"] == pytest.approx(1 - np.exp(-a * 0.05), abs=0.03)
        assert broadband["c80_db"] == pytest.approx(10 * np.log10(np.exp(a * 0.08) - 1), abs=0.5)
        assert broadband["ts_ms"] == pytest.approx(1000 / a, abs=3)
        m = 1 / np.sqrt(1 + (2 * np.pi * np.array(MODULATION_HZ) * time / 13.8) ** 2)
        sti = np.mean((np.clip(10 * np.log10(m / (1 - m)), -15, 15) + 15) / 30)
        assert channel["sti"] == pytest.approx(sti, abs=0.02)


def test_a_delay_and_gain_report_as_their_values():
    """An inverted half-level copy of the sweep, 37 samples late: the report's figures are those
    numbers and the design's, from the module's own dict."""
    sweep, _ = vellisk.sweep(*DESIGN)
    y = np.zeros(len(sweep) + 12000, np.float32)
    y[37:37 + len(sweep)] = -0.5 * sweep
    got = vellisk.impulse_response(y, 8000, DESIGN, pre=0.05, length=0.5, name="delay")
    assert got.warnings == []
    r = got.report
    assert r["sweep"]["sweep_samples"] == 16000 and r["sweep"]["silence_samples"] == 4000
    assert r["recording"] == dict(file="delay", format="samples in memory", channels=1,
                                  frames=len(y), rate_hz=8000)
    assert r["window"]["zero_instant_sample"] == 400 and r["window"]["pre_s"] == 0.05
    assert r["band"]["compensated"] and r["band"]["trusted_within_db"] == 12
    assert r["gate"] is None and r["timing"] is None and r["drift"] is None
    (c,) = r["channels"]
    assert c["arrival_samples"] == pytest.approx(37, abs=0.05)
    assert c["arrival_ms"] == pytest.approx(37 / 8, abs=0.01)
    assert c["gain_db"] == pytest.approx(20 * np.log10(0.5), abs=0.02)
    assert c["polarity"] == -1 and c["clipped_samples"] == 0
    assert c["recorded_peak_dbfs"] == pytest.approx(20 * np.log10(0.25), abs=1e-4)
    assert "latency1=37" in r["irfile_comment"] and "polarity1=-1" in r["irfile_comment"]


def test_refusals_name_the_keywords(tmp_path, monkeypatch):
    """A refused keyword raises vellisk.Error (a ValueError) naming it, with its code and the
    keyword; a file that cannot be read raises OSError; a design, a recording and sweep files
    are refused in the library's words."""
    monkeypatch.chdir(tmp_path)
    y = recording()[:, 0]
    short = DESIGN[:2] + [500] + DESIGN[3:]
    keyword_cases = [
        (dict(pre=-1), "pre", "pre (-1) must be a number of seconds, 0 or more"),
        (dict(length=0), "length", "length (0) must be a number of seconds greater than 0"),
        (dict(gate=0), "gate", "gate (0) must be a number of milliseconds greater than 0"),
        (dict(smooth=97), "smooth", "smooth (97) must be a whole number from 1 to 96"),
        (dict(reference=0), "reference", "reference (0) must be a channel number from 1 to 1024"),
        (dict(drift=1001), "drift", "drift (1001) must be auto, or a number of ppm from -1000 to 1000"),
        (dict(drift="fast"), "drift", "drift ('fast') must be 'auto' or a number of ppm"),
        (dict(repeat=2, align=True), "align",
         "align is for a single sweep without a reference: repeat places the windows by its own "
         "timing; leave one of them out"),
        (dict(waterfall=True, waterfall_range=0.01), "waterfall_range",
         "waterfall_range (0.01) must be a number of milliseconds from 0.1 to 10000"),
        (dict(waterfall_range=30), "waterfall_range",
         "waterfall_range is for the waterfall: give waterfall=True too"),
        (dict(spl_cal=("cal.wav", 200)), "spl_cal's level",
         "spl_cal's level (200) must be a number of dB SPL from 40 to 160"),
        (dict(mic_cal=""), "mic_cal", "mic_cal must name a file"),
    ]
    for keywords, setting, line in keyword_cases:
        with pytest.raises(vellisk.Error) as refused:
            vellisk.impulse_response(y, 8000, DESIGN, **keywords)
        assert isinstance(refused.value, ValueError)
        assert (str(refused.value), refused.value.setting) == (line, setting), keywords
        assert refused.value.code == "invalid_request"
    # The recording's rule, which names the keyword.
    with pytest.raises(vellisk.Error) as refused:
        vellisk.impulse_response(y, 8000, DESIGN, reference=2)
    assert str(refused.value) == ("reference (2) names a channel the recording does not have: "
                                  "recording (samples) has 1")
    assert refused.value.code == "invalid_recording"
    with pytest.raises(vellisk.Error, match=r"^harmonics \(10\) asks for order 6, whose band is empty"):
        vellisk.impulse_response(y, 8000, short, harmonics=10)
    with pytest.raises(vellisk.Error, match=r"^gate \(2000 ms\) must not be longer than length \(1 s\)$"):
        vellisk.impulse_response(y, 8000, DESIGN, gate=2000)

    # Files that cannot be read.
    for keywords in (dict(mic_cal="missing.txt"), dict(design="missing.wav"),
                     dict(spl_cal=("missing.wav", 94))):
        design = keywords.pop("design", DESIGN)
        with pytest.raises(OSError, match="missing"):
            vellisk.impulse_response(y, 8000, design, **keywords)

    # A design, a recording and sweep files refused in the library's words (the programs' too);
    # the code says the kind.
    run("vellisk", ["--wav", *NUMBERS, "sweep.wav", "inverse.wav"], tmp_path)
    wavfile.write(tmp_path / "rec8.wav", 8000, y)
    # A sweep file with its 5000th sample changed, and a WAV file vellisk did not write.
    shutil.copy("sweep.wav", "tampered.wav")
    data = pathlib.Path("tampered.wav").read_bytes().index(b"data") + 8
    with open("tampered.wav", "r+b") as f:
        f.seek(data + 4 * 5000)
        f.write(np.float32(0.25).tobytes())
    cases = [
        ("hzend (5000) must not exceed half the sample rate (4000)", "invalid_design",
         lambda: vellisk.sweep(*DESIGN[:3], 5000, *DESIGN[4:])),
        ("recording (rec.wav) has a sample rate of 16000, not rate (8000)", "invalid_recording",
         lambda: vellisk.impulse_response(y, 16000, DESIGN, name="rec.wav")),
        ("sweep file (tampered.wav) does not match the design it carries: sample 5000 is 0.25 "
         "where the design gives 0.34792292; write it again with vellisk --wav", "invalid_design",
         lambda: vellisk.impulse_response(y, 8000, "tampered.wav")),
        ("sweep file (rec8.wav) carries no design: it has no INFO list", "invalid_design",
         lambda: vellisk.impulse_response(y, 8000, pathlib.Path("rec8.wav"))),
    ]
    for line, code, call in cases:
        with pytest.raises(vellisk.Error) as refused:
            call()
        assert (str(refused.value), refused.value.code) == (line, code)
        assert refused.value.setting is None
    with pytest.raises(vellisk.Error, match=r"^bands \('fifth'\) must be 'octave' or 'third'$"):
        vellisk.room_parameters(y, 16000, "fifth")
    with pytest.raises(vellisk.Error, match="rate"):
        vellisk.room_parameters(y, 100)
    for bad in np.arange(9000, dtype=np.int16), np.zeros((2, 2, 9000)):
        with pytest.raises(vellisk.Error) as refused:
            vellisk.impulse_response(bad, 8000, DESIGN)
        assert refused.value.code == "invalid_recording"
    for spl_cal in "cal.wav", ("cal.wav",), ("cal.wav", 94, 1000):  # not a (path, level)
        with pytest.raises(TypeError):
            vellisk.impulse_response(y, 8000, DESIGN, spl_cal=spl_cal)


def test_arrays_that_cannot_be_converted_raise_memory_error():
    """Broadcast views of a size no machine can copy to float32 (4 PB), in either dtype: a
    MemoryError that names the size, never a crash."""
    design = [48000, 0.5, 20, 20000, 2, 0.5, 0.05, 0.005]
    for dtype in np.float32, np.float64:
        huge = np.broadcast_to(dtype(0), (2**50,))
        wide = np.broadcast_to(dtype(0), (2**49, 2))
        for call in (lambda: vellisk.room_parameters(huge, 48000),
                     lambda: vellisk.impulse_response(huge, 48000, design),
                     lambda: vellisk.impulse_response(wide, 48000, design)):
            with pytest.raises(MemoryError, match=r"\(\d+ frames x [12] channels?\) needs .* GB"):
                call()


def test_wrong_types_raise_type_errors_naming_the_argument():
    y = np.zeros(40000, np.float32)
    cases = [
        ("design[0]", lambda: vellisk.impulse_response(y, 8000, ["8000"] * 8)),
        ("design", lambda: vellisk.impulse_response(y, 8000, None)),
        ("design", lambda: vellisk.impulse_response(y, 8000, {"rate": 8000})),
        ("design", lambda: vellisk.impulse_response(y, 8000, b"sweep.wav")),
        ("rate", lambda: vellisk.impulse_response(y, 8000.0, DESIGN)),
        ("harmonics", lambda: vellisk.impulse_response(y, 8000, DESIGN, harmonics=10**10)),
        ("harmonics", lambda: vellisk.impulse_response(y, 8000, DESIGN, harmonics="2")),
        ("drift", lambda: vellisk.impulse_response(y, 8000, DESIGN, drift=[1])),
        ("gate", lambda: vellisk.impulse_response(y, 8000, DESIGN, gate="20")),
        ("name", lambda: vellisk.impulse_response(y, 8000, DESIGN, name=3)),
        ("spl_cal's level", lambda: vellisk.impulse_response(y, 8000, DESIGN,
                                                             spl_cal=("cal.wav", [94]))),
        ("bands", lambda: vellisk.room_parameters(y, 8000, None)),
        ("threads", lambda: vellisk.room_parameters(y, 8000, threads=1.5)),
        ("hzend", lambda: vellisk.sweep(*DESIGN[:3], "3000", *DESIGN[4:])),
    ]
    for argument, call in cases:
        with pytest.raises(TypeError) as refused:
            call()
        assert str(refused.value).startswith(argument + " must be "), argument


def threads_running():
    """The process's threads, as the system counts them (the library's workers included)."""
    return len(os.listdir("/proc/self/task"))


def long_measurement():
    design = [48000, 0.5, 20, 20000, 20, 0.5, 0.05, 0.005]
    s, _ = vellisk.sweep(*design)
    y = np.tile(np.concatenate([s, np.zeros(48000, np.float32)])[:, None], (1, 8))
    return lambda: vellisk.impulse_response(y, 48000, design, harmonics=3, threads=1)


def long_room_channel():
    """One channel of three minutes: a 1.5 s decay, then its noise floor."""
    rate = 48000
    t = np.arange(180 * rate) / rate
    rng = np.random.default_rng(3)
    x = (rng.standard_normal(t.size) * (np.exp(-6.9 * t / 1.5) + 1e-5)).astype(np.float32)
    return lambda: vellisk.room_parameters(x, rate)


@pytest.mark.parametrize("make_call", [long_measurement, long_room_channel])
def test_ctrl_c_ends_a_long_call_at_once(make_call):
    """SIGINT a second (or, on a quick machine, 40 % of the call) into a long measurement or
    room analysis raises KeyboardInterrupt soon after the signal, with none of the library's
    threads left running, and the module computes as before afterwards."""
    call = make_call()
    began = time.monotonic()
    whole = call()
    took = time.monotonic() - began
    threads = threads_running()
    began = time.monotonic()
    sent = []
    timer = threading.Timer(min(1.0, 0.4 * took),
                            lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        try:
            call()
        finally:
            timer.join()
    # Within 0.5 s on an idle machine; the margin is for a loaded one.
    late = time.monotonic() - sent[0]
    print(f"KeyboardInterrupt {late:.3f} s after SIGINT, {sent[0] - began:.3f} s into "
          f"a call of {took:.3f} s")
    assert late < 1.5
    assert threads_running() == threads
    again = call()
    if isinstance(whole, dict):
        assert again == whole
    else:
        assert np.array_equal(again.ir, whole.ir) and again.report == whole.report
