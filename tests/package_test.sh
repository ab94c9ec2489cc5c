#!/bin/sh
# Installs into a temporary prefix, then builds the example against the installed library, once
# through its CMake package and once through pkg-config, and runs both; imports the Python module
# from the prefix and measures with it.
# Arguments: the build folder, the source folder, flags every compile and link needs (the
# sanitizers', in a sanitized build), and the Python module's Python and site directory.
set -eu
build=$1
source=$2
flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for header in files number_text problem response room sweep vellisk version; do
  [ -f "$work/prefix/include/vellisk/$header.h" ] || { echo "no vellisk/$header.h installed"; exit 1; }
done

cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/log" 2>&1 ||
  { cat "$work/log"; exit 1; }
cmake --build "$work/cmake" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
"$work/cmake/measure_example" >"$work/cmake.out"

pc=$(find "$work/prefix" -name vellisk.pc)
[ -n "$pc" ] || { echo "no vellisk.pc installed"; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
# shellcheck disable=SC2046,SC2086
g++ -std=c++20 $flags "$source/examples/measure_example.cpp" -o "$work/pc_example" \
  $(pkg-config --cflags --libs vellisk)
"$work/pc_example" >"$work/pc.out"

cmp "$work/cmake.out" "$work/pc.out"
# A system of gain 0.5, 96 samples late: -6.02 dB, and a second harmonic it has.
grep -q "^arrival 96.0 samples, in-band gain -6.02 dB, second harmonic " "$work/cmake.out" ||
  { echo "unexpected output:"; cat "$work/cmake.out"; exit 1; }

# The Python module, installed into the prefix's site directory, imported from there alone
# (arguments 4 and 5: its Python and that directory, when the module is built).
python=${4:-}
if [ -n "$python" ]; then
  site="$work/prefix/$5"
  cd "$work"
  PYTHONPATH="$site" "$python" - "$site" <<'PY' || exit 1
import os, sys
import numpy as np
import vellisk
assert os.path.dirname(vellisk.__file__) == sys.argv[1], vellisk.__file__
design = [48000, 0.5, 20, 20000, 2, 0.5, 0.05, 0.005]
sweep, _ = vellisk.sweep(*design)
recording = np.concatenate([np.zeros(96, np.float32), 0.5 * sweep, np.zeros(48000, np.float32)])
channel = vellisk.impulse_response(recording, 48000, design).report["channels"][0]
assert (channel["arrival_samples"], round(channel["gain_db"], 2)) == (96.0, -6.02), channel
PY
fi
