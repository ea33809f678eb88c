#!/bin/sh
# opens-cleanly.sh PLUGIN_DIR PATCH...: opens the patches in Pure Data in batch mode,
# runs DSP for half a second and quits. Fails when Pd could not create an object or put
# anything on the console that reads as an error or a warning. $TAVRELLE_PD may name
# another Pd (or an emulator command in front of one).
set -u
plugins=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/run.pd" <<'PATCH'
#N canvas 0 0 300 200 12;
#X obj 20 20 loadbang;
#X msg 20 50 \; pd dsp 1;
#X obj 120 50 delay 500;
#X msg 120 80 \; pd quit;
#X connect 0 0 1 0;
#X connect 0 0 2 0;
#X connect 2 0 3 0;
PATCH
set -- -open "$work/run.pd" $(for p in "$@"; do printf -- '-open %s ' "$p"; done)
timeout 60 ${TAVRELLE_PD:-pd} -nogui -noaudio -batch -noprefs -stderr -path "$plugins" \
    "$@" > "$work/console.txt" 2>&1
status=$?
if [ $status -ne 0 ] ||
    grep -Eiq "couldn't|can't|error|warning|bad arguments|no method|not found|no such|connection failed" \
        "$work/console.txt"; then
    echo "Pd (exit status $status) said:"
    cat "$work/console.txt"
    exit 1
fi
