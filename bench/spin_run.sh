#!/usr/bin/env bash
# Times vellisk-spin on 70 angles (both orbits every 10 degrees) at 1/20 octave from 20 Hz to
# 20 kHz: the curves alone, with the rating and beamwidths, and with the figure's four views.
# Each round runs everything once, close together, and medians over rounds are reported.
source "$(dirname "$0")/common.sh"
needs vellisk-spin "libfftw3-dev, libsndfile1-dev, libplplot-dev and nlohmann-json3-dev"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
# A source narrowing with frequency: 6 dB (1 - cos angle) down an octave above 1 kHz.
for orbit in H V; do
  for ((d = -170; d <= 180; d += 10)); do
    [ "$orbit" = V ] && { [ $d = 0 ] || [ $d = 180 ]; } && continue
    awk -v d=$d 'BEGIN { for (i = 0; i <= 200; i++) { f = 20 * 2 ^ (i / 20)
      printf "%.6f %.4f\n", f, 90 - 6 * (1 - cos(d * 3.14159265 / 180)) * f / 1000 } }' >"spk_$orbit $d.frd"
  done
done
ls *.frd | wc -l | grep -qx 70

spin() { measure "$bin/vellisk-spin" "$@" *.frd; }
for ((round = 0; round < rounds; round++)); do
  echo "$(spin --cta c.csv) $(spin --cta c.csv --json r.json)" \
    "$(spin --cta c.csv --json r.json --plot f.svg --views spin,polar-h,polar-v,polar-normalised)"
done >rounds

awk -v rounds="$rounds" -f "$here/bench/median.awk" -f /dev/stdin rounds <<'AWK'
  { for (i = 1; i <= NF; i++) value[NR, i] = $i }
  END {
    printf "70 angles at 1/20 octave (201 frequencies), medians of %d rounds: seconds, peak MiB\n", rounds
    printf "  --cta                        %6.3f s %6.1f MiB\n", median(1), median(2) / 1024
    printf "  --cta --json                 %6.3f s %6.1f MiB\n", median(3), median(4) / 1024
    printf "  --cta --json --plot (4 views) %5.3f s %6.1f MiB\n", median(5), median(6) / 1024
  }
AWK
