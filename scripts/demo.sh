#!/bin/bash
# Renders the example patches through Pure Data in batch mode into build/demo/ and
# prints a line per rendering.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/demo
mkdir -p "$out"
for patch in examples/*-render.pd; do
    name=$(basename "$patch" -render.pd)
    printf 'rendering %s ... ' "$name"
    cp "$patch" "$out/"
    start=$(date +%s%N)
    (cd "$out" && pd -nogui -noaudio -batch -noprefs -stderr -path ../tavrelle \
        -open "$(basename "$patch")" > "$name.log" 2>&1)
    end=$(date +%s%N)
    if grep -q "couldn't create\|^error:" "$out/$name.log"; then
        echo "failed:"; cat "$out/$name.log"; exit 1
    fi
    ms=$(( (end - start) / 1000000 ))
    printf 'done in %d.%03d s\n' $((ms / 1000)) $((ms % 1000))
    build/wavinfo "$out/$name.wav"
done
