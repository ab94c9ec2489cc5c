# vellisk.spin against vellisk-spin and against a baffled piston's closed form (scipy's J1).
import csv
import os
import pathlib
import subprocess

import numpy as np
import pytest
from scipy.special import j1

import vellisk

BIN = pathlib.Path(os.environ["VELLISK_BIN"])
F = 20 * 2.0 ** (np.arange(201) / 20)


def piston_db(degrees, radius=0.08):
    x = 2 * np.pi * F / 343 * radius * abs(np.sin(np.radians(degrees)))
    d = np.ones_like(x) if x[0] == 0 else 2 * j1(x) / x
    return 90 + 20 * np.log10(np.maximum(np.abs(d), 1e-12))


def write_set(folder):
    names = []
    for orbit in "HV":
        for d in range(-170, 190, 10):
            if orbit == "V" and d in (0, 180):
                continue
            name = folder / f"piston_{orbit} {d}.frd"
            np.savetxt(name, np.column_stack([F, piston_db(d)]), fmt="%.10g")
            names.append(str(name))
    return names


def test_spin_is_vellisk_spins_and_the_closed_form(tmp_path):
    names = write_set(tmp_path)
    result = vellisk.spin(names)
    c = result["curves"]
    # The listening window from D itself: on-axis, +-10 vertical, +-10 +-20 +-30 horizontal.
    lw = [0, 10, -10, 10, -10, 20, -20, 30, -30]
    want = 10 * np.log10(np.mean([10 ** (piston_db(d) / 10) for d in lw], axis=0))
    np.testing.assert_allclose(c["listening_window"], want, atol=0.05)
    assert result["filled_in"] == []
    assert result["rating"]["sm_pir"] > 0 and result["rating"]["lfx_below_grid"]

    run = subprocess.run([BIN / "vellisk-spin", "--cta", tmp_path / "spin.csv", *names],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    rows = [r for r in csv.reader(open(tmp_path / "spin.csv")) if not r[0].startswith("#")]
    header, table = rows[0], np.array(rows[1:], dtype=float)
    np.testing.assert_allclose(table[:, 0], result["frequency_hz"], atol=5e-4)
    for i, name in enumerate(header[1:], 1):
        np.testing.assert_allclose(table[:, i], c[name], atol=0.005, err_msg=name)


def test_spin_refusals_are_value_errors(tmp_path):
    names = [n for n in write_set(tmp_path) if not n.endswith("_H 0.frd")]
    with pytest.raises(ValueError, match=r"no input is on-axis \(H 0\)"):
        vellisk.spin(names)
    with pytest.raises(ValueError, match="has no angle"):
        (tmp_path / "plain.frd").write_text("100 1\n200 1\n")
        vellisk.spin([str(tmp_path / "plain.frd")])
    # The grid's range is the library's, its refusal in the keyword's name.
    with pytest.raises(vellisk.Error, match=r"^points \(1001\) must be a whole number from 0") as e:
        vellisk.spin(write_set(tmp_path), points=1001)
    assert e.value.setting == "points" and e.value.code == "invalid_request"


def test_spin_refuses_a_files_content_as_a_value_error_and_a_missing_file_as_os_error(tmp_path):
    """What a file holds, when it is wrong, is vellisk.Error (a ValueError, code invalid_input),
    with vellisk-spin's words; only a file that cannot be read is OSError."""
    names = write_set(tmp_path)
    table = tmp_path / "SPL Horizontal.txt"
    table.write_text("Frequency\tOn-Axis\t10°\n100\t90\t89\n200\t90\t89\t88\n")
    few = tmp_path / "few_H 0.frd"
    few.write_text("100 90\n")
    text = tmp_path / "text_H 0.frd"
    text.write_text("100 90\n200 90\nhello\n300 90\n")
    angles = tmp_path / "angles.txt"
    angles.write_text("H 0 a.frd\nX 10 b.frd\n")
    cases = [
        (dict(files=[str(table)]), r"SPL Horizontal.txt\) line 3 holds 4 numbers, not 3"),
        (dict(files=[str(few)] + names[1:]), r"few_H 0.frd\) holds fewer than 2 rows"),
        (dict(files=[str(text)] + names[1:]), r"text_H 0.frd"),
        (dict(files=names, angles=str(angles)), r"angles.txt\) line 2 is not \"H\|V degrees name\""),
    ]
    for kwargs, words in cases:
        with pytest.raises(vellisk.Error, match=words) as refused:
            vellisk.spin(kwargs.pop("files"), **kwargs)
        assert refused.value.code == "invalid_input", words
    with pytest.raises(OSError, match="missing_H 0.frd"):
        vellisk.spin([str(tmp_path / "missing_H 0.frd")] + names[1:])


def test_spin_gates_response_wavs_as_vellisk_spin_does(tmp_path):
    """Responses whose reflection, 10 ms after the direct sound and half as loud, combs the
    level by 1.5 / 0.5 (9.5 dB): gate=5 leaves the direct sound alone, flat at 0 dB, as
    vellisk-spin --gate 5 reads them; a gate that is not above 0 is refused naming gate."""
    design = [48000, 0.5, 20, 20000, 1, 0.5, 0.05, 0.005]
    sweep, _ = vellisk.sweep(*design)
    recording = np.zeros(len(sweep) + 600, np.float32)
    recording[24:24 + len(sweep)] += sweep
    recording[504:504 + len(sweep)] += np.float32(0.5) * sweep
    recording.tofile(tmp_path / "rec.f32")
    names = []
    for angle in ["H 0", "H 90", "H -90", "H 180", "V 90", "V -90"]:
        name = str(tmp_path / f"box_{angle}.wav")
        run = subprocess.run([BIN / "vellisk-ir", *[f"{n:g}" for n in design], "rec.f32", name],
                             cwd=tmp_path, capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        names.append(name)
    # Above 1 kHz, five periods and more in the gate.
    band = lambda r: r["curves"]["on_axis"][(r["frequency_hz"] > 1000) & (r["frequency_hz"] < 10000)]
    gated = vellisk.spin(names, allow_missing=True, gate=5)
    assert np.max(np.abs(band(gated))) < 0.1
    whole = band(vellisk.spin(names, allow_missing=True))
    assert np.max(whole) - np.min(whole) > 6

    run = subprocess.run([BIN / "vellisk-spin", "--allow-missing", "--gate", "5", "--cta",
                          tmp_path / "spin.csv", *names], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    rows = [r for r in csv.reader(open(tmp_path / "spin.csv")) if not r[0].startswith("#")]
    table = np.array(rows[1:], dtype=float)
    np.testing.assert_allclose(table[:, 1], gated["curves"]["on_axis"], atol=0.005)
    with pytest.raises(vellisk.Error, match=r"^gate \(0\) must be a number of milliseconds") as e:
        vellisk.spin(names, gate=0)
    assert e.value.setting == "gate"
