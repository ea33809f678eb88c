#!/bin/sh
# opens-cleanly.sh PLUGIN_DIR PATCH...: opens each patch as a patcher would, in Pure Data
# in batch mode with its default settings (-noprefs, no -path), from the patch's own
# folder; runs DSP for half a second and quits. HOME is a scratch folder into which
# `make install` has put the library from PLUGIN_DIR; a PATCH given relative to the
# library ("damp~-help.pd", "examples/lofi.pd") is opened from that installed copy.
# Fails when Pd could not create an object (inside abstractions too) or put anything on
# the console that reads as an error or a warning. $TAVRELLE_PD may name another Pd (or
# an emulator command in front of one). PLUGIN_DIR "installed" installs nothing: the
# library is already where Pd searches by default (a system package).
set -u
plugins=$1
shift
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME"
if [ "$plugins" != installed ]; then
    env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s --no-print-directory -C "$src" install-files \
        STAGE="$plugins" > /dev/null || exit 1
fi
installed="$HOME/.local/lib/pd/extra/tavrelle"
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
for patch in "$@"; do
    case $patch in /*) ;; *) patch="$installed/$patch" ;; esac
    [ -f "$patch" ] || { echo "no $patch"; exit 1; }
    (cd "$(dirname "$patch")" &&
        timeout 60 ${TAVRELLE_PD:-pd} -nogui -noaudio -batch -noprefs -stderr \
            -open "$work/run.pd" -open "$(basename "$patch")") > "$work/console.txt" 2>&1
    status=$?
    if [ $status -ne 0 ] ||
        grep -Eiq "couldn't|can't|error|warning|bad arguments|no method|not found|no such|connection failed" \
            "$work/console.txt"; then
        echo "$patch: Pd (exit status $status) said:"
        cat "$work/console.txt"
        exit 1
    fi
done
