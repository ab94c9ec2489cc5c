# Sourced by the benchmark scripts: builds the bench preset and checks for what they need.
# needs PROGRAM HINT: the program built, or what to install; needs_python: a python3 with
# numpy and scipy, in $python; measure COMMAND...: its seconds and peak KiB; usage COMMAND...
# (after needs_python): its seconds, user and system seconds, minor page faults and peak KiB.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
here=$PWD
rounds=${ROUNDS:-5}
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=$PWD/build/bench
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

# Seconds and peak KiB of one run, which must succeed.
measure() {
  local t0 t1 kib status
  t0=${EPOCHREALTIME/[.,]/}
  read -r kib status < <(/usr/bin/time -f "%M %x" "$@" 2>&1 >/dev/null | tail -1)
  t1=${EPOCHREALTIME/[.,]/}
  [ "$status" = 0 ] || { echo "failed: $*" >&2; exit 1; }
  awk -v us=$((t1 - t0)) -v kib="$kib" 'BEGIN { printf "%.4f %d", us / 1e6, kib }'
}

# Wall, user and system seconds, minor page faults and peak KiB of one run, which must succeed:
# the process's own resource use (wait4), to the microsecond.
usage() {
  "$python" -c '
import os, subprocess, sys, time
t0 = time.perf_counter()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, r = os.wait4(p.pid, 0)
if status != 0:
    sys.exit("failed: " + " ".join(sys.argv[1:]))
print("%.4f %.4f %.4f %d %d" % (time.perf_counter() - t0, r.ru_utime, r.ru_stime, r.ru_minflt, r.ru_maxrss))
' "$@"
}
