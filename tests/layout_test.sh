#!/bin/sh
# Fails when a front end's file includes one of the library's own headers (a folder of src/,
# "sweep/...", "io/..."): the front ends reach the library through include/vellisk/ alone.
# Arguments: the source folder, then the folders and files checked, relative to it; an
# argument !PREFIX leaves out the files whose path starts with PREFIX (not clean yet).
set -eu
root=$1
shift
internal=$(cd "$root/src" && for d in */; do printf '%s|' "${d%/}"; done)
internal=${internal%|}
[ -n "$internal" ] || { echo "no folders under $root/src"; exit 1; }
found=$(mktemp)
trap 'rm -f "$found"' EXIT
for entry in "$@"; do
  case $entry in !*) continue ;; esac
  [ -e "$root/$entry" ] || { echo "$entry: not found"; echo "$entry" >>"$found"; continue; }
  (cd "$root" && grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($internal)/" \
     --include='*.h' --include='*.cpp' "$entry") >>"$found" || true
done
for entry in "$@"; do
  case $entry in
    !*) grep -v "^${entry#!}" "$found" >"$found.kept" || true; mv "$found.kept" "$found" ;;
  esac
done
[ -s "$found" ] || exit 0
cat "$found"
echo "the files above include the library's own headers: use include/vellisk/"
exit 1
