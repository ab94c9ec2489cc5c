# Sourced by the benchmark scripts: builds the release preset and checks for what they need.
# needs PROGRAM HINT: the program built, or what to install; needs_python: a python3 with
# numpy and scipy, in $python.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
here=$PWD
rounds=${ROUNDS:-5}
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=$PWD/build/release
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time, Debian's package time) is needed for peak memory" >&2; exit 1; }

needs() {
  [ -x "$bin/$1" ] || { echo "$1 was not built: install $2" >&2; exit 1; }
}

needs_python() {
  python=
  for p in "$(command -v python3)" /usr/bin/python3; do
    "$p" -c "import numpy, scipy" 2>/dev/null && { python=$p; break; }
  done
  [ -n "$python" ] || { echo "a python3 with numpy and scipy is needed for the comparison" >&2; exit 1; }
}
