#!/bin/bash
# demo.sh [FILE.wav]: renders every example through Pure Data in batch mode into 32-bit
# float WAVs under build/demo/ (or $DEMO_OUT), on test signals that it records first
# (a drum loop, a chord, speech-like bursts) or on the given file, and prints a line per
# example: length, channels, peak, RMS and the CPU time the Pd process took. Fails when
# Pd reports an error or a rendering is silent or not finite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(mkdir -p "${DEMO_OUT:-build/demo}" && cd "${DEMO_OUT:-build/demo}" && pwd)
pd=${TAVRELLE_PD:-pd}
signals=$out/signals
mkdir -p "$signals"
case "$out" in *' '*) echo "demo.sh: the output folder must not contain spaces: $out" >&2; exit 2 ;; esac
TIMEFORMAT='%3U %3S'
# On a terminal each line shows its progress and is then overwritten by its result.
cr=''
[ -t 1 ] && cr='\r'

rate=44100
user_file=${1:-}
if [ -n "$user_file" ]; then
    rate=$("$root/build/wavinfo" --rate "$user_file")
    cp "$user_file" "$signals/input.wav"
fi

# The test signal each example plays unless a file is given; the voice of the ducking
# example is always the speech-like bursts.
signal_for() {
    case $1 in
    freqshift) echo chord ;;
    meter) echo speech ;;
    *) echo music ;;
    esac
}

# render LABEL PATCH MESSAGE LOG: runs one patch in pd -batch, showing its progress on a
# terminal; the CPU time of the Pd process goes to LOG.cpu.
render() {
    local label=$1 patch=$2 message=$3 log=$4
    { time (cd "$root/examples" && timeout 600 $pd -nogui -noaudio -batch -noprefs -stderr \
        -r "$rate" -open "$patch" -send "$message" 2>&1); } 2> "$log.cpu" |
        tee "$log" |
        while read -r line; do
            case $line in
            "tav-progress: "*)
                set -- ${line#tav-progress: }
                if [ -n "$cr" ]; then
                    printf '\r%s %3d%%' "$label" $(($1 * 100 / ($2 > 0 ? $2 : 1)))
                fi ;;
            esac
        done
    if grep -Eiq "couldn't|error|can't|not found" "$log"; then
        printf "$cr%s failed; Pd said:\n" "$label"
        cat "$log" "$log.cpu"
        exit 1
    fi
}

examples=()
for patch in examples/*-render.pd; do
    name=$(basename "$patch" -render.pd)
    [ "$name" = signals ] || examples+=("$name")
done
total=$((${#examples[@]} + 1))

if [ -n "$cr" ]; then
    printf '[1/%d] recording the test signals at %s Hz ...' "$total" "$rate"
fi
render "[1/$total] recording the test signals" signals-render.pd \
    "tav-signals $signals 8000" "$signals/signals.log"
printf "$cr[1/%d] test signals: drums, chord, speech and music (drums with chord) in %s\n" \
    "$total" "${signals#$root/}"

status=0
k=1
for name in "${examples[@]}"; do
    k=$((k + 1))
    input=$signals/$(signal_for "$name").wav
    [ -n "$user_file" ] && input=$signals/input.wav
    wav=$out/$name.wav
    label=$(printf '[%d/%d] %-10s' "$k" "$total" "$name")
    if [ -n "$cr" ]; then printf '%s rendering ...' "$label"; fi
    render "$label" "$name-render.pd" "tav-render $input $signals/speech.wav $wav 3000" \
        "$out/$name.log"
    cpu=$(awk '{ printf "%.3f", $1 + $2 }' "$out/$name.log.cpu")
    if info=$("$root/build/wavinfo" "$wav"); then
        printf "$cr%s %s  Pd cpu %s s\n" "$label" "${info#$root/}" "$cpu"
    else
        printf "$cr%s %s\n" "$label" "${info#$root/}"
        status=1
    fi
done
exit $status
