#!/bin/bash
# demo.sh [FILE]: renders every example through Pure Data in batch mode into 32-bit
# float WAVs under build/demo/ (or $DEMO_OUT), on test signals that it records first
# (a drum loop, a chord, speech-like bursts) or on the given file, and prints a line per
# example: length, channels, peak, RMS and the CPU time the Pd process took. FILE may be
# any sound file libsndfile reads (WAV, AIFF, FLAC, Ogg, MP3, ...); its renders are named
# after it (reverb-FILE.wav, ...) beside the default ones. The meter example's level
# signal goes to a file of its own (meter-level.wav). Fails when Pd reports an error or a
# rendering is silent or not finite.
set -euo pipefail
user_file=${1:-}
case $user_file in '' | /*) ;; *) user_file=$PWD/$user_file ;; esac
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
tag=''
if [ -n "$user_file" ]; then
    [ -f "$user_file" ] || { echo "demo.sh: no such file: $user_file" >&2; exit 2; }
    "$root/build/wavinfo" --convert "$user_file" "$signals/input.wav" ||
        { echo "demo.sh: cannot render $user_file (see above)" >&2; exit 2; }
    rate=$("$root/build/wavinfo" --rate "$signals/input.wav")
    tag=-$(basename "$user_file" | sed 's/\.[^.]*$//; s/[^A-Za-z0-9._-]/_/g')
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

# render LABEL PATCH MESSAGE LOG [FIRST]: runs one patch in pd -batch (sending it FIRST,
# then MESSAGE), showing its progress on a terminal; the CPU time of the Pd process goes
# to LOG.cpu.
render() {
    local label=$1 patch=$2 message=$3 log=$4
    local sends=(-send "$message")
    [ -z "${5:-}" ] || sends=(-send "$5" "${sends[@]}")
    { time (cd "$root/examples" && timeout 600 $pd -nogui -noaudio -batch -noprefs -stderr \
        -r "$rate" -open "$patch" "${sends[@]}" 2>&1); } 2> "$log.cpu" |
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
        printf "$cr%s failed%s; Pd said:\n" "$label" "${user_file:+ on $user_file}"
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
    wav=$out/$name$tag.wav
    label=$(printf '[%d/%d] %-10s' "$k" "$total" "$name")
    if [ -n "$cr" ]; then printf '%s rendering ...' "$label"; fi
    level=''
    [ "$name" != meter ] || level=$out/meter-level$tag.wav
    render "$label" "$name-render.pd" "tav-render $input $signals/speech.wav $wav 3000" \
        "$out/$name$tag.log" "${level:+tav-level-file $level}"
    cpu=$(awk '{ printf "%.3f", $1 + $2 }' "$out/$name$tag.log.cpu")
    if info=$("$root/build/wavinfo" "$wav"); then
        printf "$cr%s %s  Pd cpu %s s\n" "$label" "${info#$root/}" "$cpu"
    else
        printf "$cr%s %s\n" "$label" "${info#$root/}"
        status=1
    fi
    if [ -n "$level" ]; then
        if info=$("$root/build/wavinfo" "$level"); then
            printf '%-17s %s  (the level signal of the meter)\n' '' "${info#$root/}"
        else
            printf '%-17s %s\n' '' "${info#$root/}"
            status=1
        fi
    fi
done
exit $status
