#!/bin/sh
# Installs into a temporary prefix and checks that the programs and their manual pages are there.
# Arguments: the build folder, and the names of the programs built.
set -eu
build=$1
shift
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for program in "$@"; do
  "$prefix/bin/$program" --help | grep -q "Usage: $program" || { echo "installed $program does not run"; exit 1; }
  [ -f "$prefix/share/man/man1/$program.1" ] || { echo "no manual page $program.1 in share/man/man1"; exit 1; }
done
