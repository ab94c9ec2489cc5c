#!/bin/sh
# Builds the example against the library installed under a prefix, once through its CMake
# package and once through pkg-config, into a folder, runs both and checks what they print.
# Arguments: the prefix, the source folder, the folder to build in, and flags every compile and
# link needs (the sanitizers', in a sanitized build).
set -eu
prefix=$1
source=$2
work=$3
flags=${4:-}
mkdir -p "$work"
cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/log" 2>&1 ||
  { cat "$work/log"; exit 1; }
cmake --build "$work/cmake" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
"$work/cmake/measure_example" >"$work/cmake.out"

pc=$(find "$prefix" -name vellisk.pc)
[ -n "$pc" ] || { echo "no vellisk.pc installed"; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
# A shared library is found at run time where pkg-config says it lies.
# shellcheck disable=SC2046,SC2086
g++ -std=c++20 $flags "$source/examples/measure_example.cpp" -o "$work/pc_example" \
  $(pkg-config --cflags --libs vellisk) -Wl,-rpath,"$(pkg-config --variable=libdir vellisk)"
"$work/pc_example" >"$work/pc.out"

cmp "$work/cmake.out" "$work/pc.out"
# A system of gain 0.5, 96 samples late: -6.02 dB, and a second harmonic it has.
grep -q "^arrival 96.0 samples, in-band gain -6.02 dB, second harmonic " "$work/cmake.out" ||
  { echo "unexpected output:"; cat "$work/cmake.out"; exit 1; }
