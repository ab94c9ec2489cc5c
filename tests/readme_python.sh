#!/bin/sh
# Runs the README's Python example as written, and compares what it prints with what the README
# shows, digit for digit.
# Arguments: README path, the Python with the module on its path.
set -eu
readme=$1
python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
awk '!on && /^#+ / { inside = ($0 == "## From Python") }
     inside && /^```python$/ { on = 1; next }
     on && /^```$/ { exit }
     on { print }' "$readme" >example.py
grep -q "import vellisk" example.py || { echo "no Python example in the README"; exit 1; }
"$python" example.py >printed.txt
awk '/^```/ { fence = !fence }
     !fence && !on && /^#+ / { inside = ($0 == "## From Python") }
     inside && /^It prints:$/ { on = 1; next }
     on && /^    / { print substr($0, 5); next }
     on && NF { exit }' "$readme" >expected.txt
[ -s expected.txt ] || { echo "no printed output in the README"; exit 1; }
cp printed.txt actual.txt
diff expected.txt actual.txt || { echo "the example prints other lines than the README's"; exit 1; }
