#!/bin/sh
# Installs into a temporary prefix and checks that the program and its manual page are there.
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
"$prefix/bin/vellisk" | grep -q "Usage: vellisk" || { echo "installed vellisk does not run"; exit 1; }
[ -f "$prefix/share/man/man1/vellisk.1" ] || { echo "no manual page in share/man/man1"; exit 1; }
