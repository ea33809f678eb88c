#!/bin/bash
# demo-test.sh SOURCE_DIR OUT: runs the demo into OUT and checks that every example left
# its WAV there (the demo itself fails on Pd errors and on silent or non-finite output).
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
exit $status
