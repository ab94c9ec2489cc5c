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
