#!/usr/bin/env python3
"""doc_commands.py's marks of what varies: they mask only what their groups match, let only
the lines they name come and go, and --update keeps the page's values of what varies."""
import os
import subprocess
import sys
import tempfile
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "doc_commands.py")
MARKS = ("<!-- varies: ^Server: (\\S+), \\d+ Hz -->\n"
         "<!-- may print: ^Warning: \\d+ xruns -->\n")


def page(prints, shown, marks=MARKS):
    return (f"Text.\n\n{marks}```console\n$ printf '{prints}'\n" + "".join(
        line + "\n" for line in shown) + "```\n")


def run(text, update=False):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "page.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        result = subprocess.run([sys.executable, RUNNER] + (["--update"] if update else [])
                                + ["--bin", "/bin", path], capture_output=True, text=True)
        with open(path, encoding="utf-8") as f:
            return result.returncode, result.stderr, f.read()


class Marks(unittest.TestCase):
    def test_what_varies_is_masked_and_nothing_else(self):
        shown = ["Server: default, 48000 Hz"]
        cases = [("Server: run42, 48000 Hz\\n", 0),
                 ("Warning: 3 xruns\\nServer: run42, 48000 Hz\\n", 0),
                 ("Server: run42, 44100 Hz\\n", 1),
                 ("Server: run42, 48000 Hz\\nWarning: a full scale\\n", 1),
                 ("Server: run 42, 48000 Hz\\n", 1)]
        for prints, status in cases:
            with self.subTest(prints=prints):
                code, err, _ = run(page(prints, shown))
                self.assertEqual(code, status, err)

    def test_a_mark_that_masks_no_shown_line_is_refused(self):
        code, err, _ = run(page("Other\\n", ["Other"]))
        self.assertEqual(code, 1)
        self.assertIn("matches no line the block shows", err)

    def test_update_keeps_the_shown_values_of_what_varies(self):
        prints = "Warning: 3 xruns\\nServer: run42, 48000 Hz\\nGain 2 dB\\n"
        code, err, text = run(page(prints, ["Server: default, 48000 Hz", "Gain 1 dB"]), True)
        self.assertEqual(code, 0, err)
        self.assertEqual(text, page(prints, ["Server: default, 48000 Hz", "Gain 2 dB"]))


if __name__ == "__main__":
    unittest.main()
