#!/bin/bash
# Draws the guide's view figures (doc/views-*.svg) from the programs in the folder given.
# Channel 1: guitarix-common's "Marshall MG 15" cabinet at 48 kHz and a tenth of its gain,
# through sox's fir (which takes out half the filter's length: the response arrives early);
# channel 2: sox's allpass 1000 0.7q; the guide's 10 s design.
# Usage: doc/draw-views.sh BUILD_FOLDER   (e.g. build/dev)
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1/vellisk" ] || [ ! -x "$1/vellisk-ir" ]; then
  echo "usage: $0 BUILD_FOLDER (the folder holding vellisk and vellisk-ir)" >&2
  exit 1
fi
bin=$(cd "$1" && pwd)
doc=$(cd "$(dirname "$0")" && pwd)
cabinet="/usr/share/gx_head/sounds/amps/Marshall MG 15.wav"
design=(48000 0.5 20 20000 10 1 0.05 0.005)
[ -r "$cabinet" ] || { echo "$0: $cabinet is missing (install guitarix-common)" >&2; exit 1; }
command -v sox > /dev/null || { echo "$0: sox is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$bin/vellisk" --wav "${design[@]}" sweep.wav inverse.wav > /dev/null
# The cabinet's samples at 48 kHz, a tenth of their gain, one coefficient a line for sox's fir.
sox -D "$cabinet" -e floating-point -b 32 -r 48000 cabinet.wav remix 1
sox cabinet.wav -t dat - | awk '!/^;/ { printf "%.9g\n", 0.1 * $2 }' > cabinet.txt
sox -D sweep.wav -e floating-point -b 32 ch1.wav fir cabinet.txt
sox -D sweep.wav -e floating-point -b 32 ch2.wav allpass 1000 0.7q
sox -D -M ch1.wav ch2.wav -e floating-point -b 32 recording.wav
sox -D ch1.wav -e floating-point -b 32 cabinet-recording.wav

draw() {  # figure, views, recording: drawn here, moved into doc/ once all four are
  "$bin/vellisk-ir" --plot "$1" --views "$2" "${design[@]}" "$3" "ir-$1.wav" > /dev/null
}
draw views-phase.svg phase,group-delay recording.wav
draw views-step.svg step recording.wav
draw views-waterfall.svg waterfall cabinet-recording.wav
draw views-spectrogram.svg spectrogram cabinet-recording.wav
mv views-phase.svg views-step.svg views-waterfall.svg views-spectrogram.svg "$doc/"
