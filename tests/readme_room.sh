#!/usr/bin/env bash
# Runs the README's room measurement as written, with the stand-in room it names (sox's
# reverberator) in place of playing and recording the sweep, and compares the report.
# Arguments: README path, folder of the vellisk binaries.
set -euo pipefail
readme=$1
export PATH="$2:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The section's fenced block; the stand-in runs where the block says to record.
awk '
  !on && /^#+ / { inside = ($0 == "### A room measured with vellisk-ir") }
  inside && /^```sh$/ { on = 1; next }
  inside && /^```$/ { on = 0; next }
  on { print }
' "$readme" >block.sh
stand_in=$(grep -o 'sox sweep.wav hall.wav [^`]*reverb[^`]*' "$readme")
[ -n "$stand_in" ] || { echo "no stand-in room in the README"; exit 1; }
awk -v stand_in="$stand_in" '/^# play sweep.wav/ { print stand_in; next } { print }' block.sh >run.sh
grep -q "^vellisk-room " run.sh || { echo "README block not found"; exit 1; }
bash -euo pipefail run.sh >report.txt 2>errors.txt || { cat errors.txt; exit 1; }

# The report is the one the README shows, digit for digit.
awk '/^    Vellisk 1.1.0: room-acoustic/ { on = 1 } on && /^$/ { exit } on { print substr($0, 5) }' \
  "$readme" >expected.txt
sed -n '/^Vellisk 1.1.0: room-acoustic/,$p' report.txt >actual.txt
diff expected.txt actual.txt || { echo "the report differs from the README's"; exit 1; }
grep -q "Single-number values: T30 mid 1.73 s" report.txt
for f in room.json room.svg; do [ -s "$f" ] || { echo "no $f"; exit 1; }; done
grep -q '"bass_ratio"' room.json
