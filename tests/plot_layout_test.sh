#!/bin/sh
# Fails when a file of the folders given (the figures' code, the number text) includes the
# programs' shared code (common/) or a program's own (vellisk-*/): they sit below the front
# ends, with no console. Arguments: the source folder, then the folders checked, relative to it.
set -eu
root=$1
shift
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](common|vellisk-[a-z]+)/'
found=$(cd "$root" && grep -rnE "$pattern" --include='*.h' --include='*.cpp' "$@" || true)
[ -z "$found" ] && exit 0
echo "$found"
echo "the files above include the front ends' code: figures and number text stand below it"
exit 1
