#!/usr/bin/env bash
# Weighs vellisk-measure's realtime callback and memory on JACK dummy servers this script
# starts and stops: the worst callback per cycle at 64 frames with 8 inputs against the
# period, and peak memory for a 3 s and a 24 s sweep recorded on two channels. Medians
# over rounds are reported.
source "$(dirname "$0")/common.sh"
needs vellisk-measure "libjack-jackd2-dev"
command -v jackd >/dev/null || { echo "jackd (Debian's package jackd2) is needed" >&2; exit 1; }

tmp=$(mktemp -d)
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  server_pid=
}
trap 'stop_server; rm -rf "$tmp"' EXIT
cd "$tmp"

# A synchronous dummy server of this script's own, with 8 capture ports, at period frames.
start_server() {
  export JACK_DEFAULT_SERVER=vellisk-bench-$$
  jackd -n "$JACK_DEFAULT_SERVER" -r -S -d dummy -r 48000 -p "$1" -C 8 -P 2 >/dev/null 2>&1 &
  server_pid=$!
  for _ in $(seq 300); do
    jack_lsp >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "jackd did not answer" >&2
  exit 1
}

# The worst callback in percent of the period, and the peak KiB, of one run that must succeed.
run() {
  local out kib
  out=$(/usr/bin/time -o time.txt -f "%M" "$bin/vellisk-measure" "$@" 2>/dev/null) ||
    { echo "failed: vellisk-measure $*" >&2; exit 1; }
  kib=$(tail -1 time.txt)
  awk -v kib="$kib" '/^Callback:/ { printf "%s %d\n", $8, kib }' <<<"$out"
}

eight=()
for c in 1 2 3 4 5 6 7 8; do eight+=(-i "system:capture_$c"); done
two=(-i system:capture_1 -i system:capture_2)
sweep() { echo 48000 0.5 20 20000 "$1" 0.2 0.05 0.005; }

start_server 64
for _ in $(seq "$rounds"); do
  read -r pct _ < <(run -o system:playback_1 "${eight[@]}" $(sweep 3) rec.wav)
  echo "$pct"
done >callback.txt
stop_server
start_server 256
for _ in $(seq "$rounds"); do
  read -r _ short < <(run -o system:playback_1 "${two[@]}" --tail 0 $(sweep 3) rec.wav)
  read -r _ long < <(run -o system:playback_1 "${two[@]}" --tail 0 $(sweep 24) rec.wav)
  echo "$short $long"
done >memory.txt
stop_server

paste callback.txt memory.txt >rounds
awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
{ for (i = 1; i <= NF; i++) value[NR, i] = $i }
END {
  printf "Medians of %d rounds on a synchronous dummy JACK server at 48 kHz:\n", rounds
  printf "  worst callback per cycle, 64 frames, 8 inputs: %.2f %% of the period (1.333 ms)\n", median(1)
  printf "  peak memory, two channels: 3 s sweep %.1f MiB, 24 s sweep %.1f MiB, %.2f MiB apart\n",
    median(2) / 1024, median(3) / 1024, (median(3) - median(2)) / 1024
}
AWK
