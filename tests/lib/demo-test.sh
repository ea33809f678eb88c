#!/bin/bash
# demo-test.sh SOURCE_DIR OUT: runs the demo into OUT and checks that every example left
# its WAV there, the meter its level file too, and that the test signals peak at -1 dBFS
# or below (the demo itself fails on Pd errors and on silent or non-finite output).
set -euo pipefail
src=$1 out=$2
rm -rf "$out"
DEMO_OUT=$out bash "$src/scripts/demo.sh" < /dev/null
status=0
for patch in "$src"/examples/*-render.pd; do
    name=$(basename "$patch" -render.pd)
    [ "$name" = signals ] && continue
    [ -s "$out/$name.wav" ] || { echo "no $out/$name.wav"; status=1; }
done
for s in drums chord speech music; do
    [ -s "$out/signals/$s.wav" ] || { echo "no test signal $s.wav"; status=1; }
done
"$src/build/wavinfo" "$out"/signals/*.wav > /dev/null || { echo "a test signal is silent or not finite"; status=1; }
[ -s "$out/meter-level.wav" ] || { echo "no $out/meter-level.wav"; status=1; }
# The test signals leave 1 dB of headroom.
"$src/build/wavinfo" "$out"/signals/*.wav | awk '{ for (i = 1; i < NF; i++)
    if ($i == "peak" && $(i + 1) > 0.8913) { print $1 " peaks above -1 dBFS"; bad = 1 } }
    END { exit bad }' || status=1
exit $status
