#!/bin/sh
# Installs into a temporary prefix, then builds the example against the installed library, once
# through its CMake package and once through pkg-config, and runs both.
# Arguments: the build folder, the source folder, and flags every compile and link needs (the
# sanitizers', in a sanitized build).
set -eu
build=$1
source=$2
flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for header in problem response room sweep vellisk version; do
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
