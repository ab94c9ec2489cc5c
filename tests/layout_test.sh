#!/bin/sh
# Fails when a front end's file includes one of the library's own headers (a folder of src/,
# "sweep/...", "io/..."): the front ends reach the library through include/vellisk/ alone.
# Arguments: the source folder, then the folders and files checked, relative to it.
set -eu
root=$1
shift
internal=$(cd "$root/src" && for d in */; do printf '%s|' "${d%/}"; done)
internal=${internal%|}
[ -n "$internal" ] || { echo "no folders under $root/src"; exit 1; }
status=0
for entry in "$@"; do
  [ -e "$root/$entry" ] || { echo "$entry: not found"; status=1; continue; }
  if grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($internal)/" \
       --include='*.h' --include='*.cpp' "$root/$entry"; then
    status=1
  fi
done
[ "$status" -eq 0 ] || echo "the files above include the library's own headers: use include/vellisk/"
exit "$status"
