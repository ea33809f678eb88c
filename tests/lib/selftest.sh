#!/bin/sh
# selftest.sh FOLDER [PLUGIN]: runs the self-test as its README line says, from FOLDER
# (the staged library), in $TAVRELLE_PD (default pd; may start with an emulator). With
# PLUGIN, a plug-in built differently, the library is copied to a scratch folder with
# that plug-in in place of the one of its name, and the self-test must fail on that
# class alone. Fails on anything else: a class not ok, a missing timing row, Pd not
# quitting by itself, a complaint on the console, a last line other than the verdict.
set -u
folder=$1
altered=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$altered" ]; then
    cp -R "$folder/." "$work/"
    cp "$altered" "$work/"
    folder=$work
fi
# Every class has a help patch, whichever machine's plug-ins the folder holds.
classes=$(ls "$folder" | sed -n 's/-help\.pd$//p')
count=$(echo "$classes" | wc -l)
cd "$folder" &&
    timeout 900 ${TAVRELLE_PD:-pd} -nogui -noaudio -batch -noprefs -open tavrelle-selftest.pd \
        > "$work/console.txt" 2>&1
status=$?
fail() {
    echo "$1 (Pd's exit status $status); Pd said:"
    cat "$work/console.txt"
    exit 1
}
[ $status -eq 0 ] || fail "Pd did not quit normally"
if grep -Eiq "couldn't|can't|error|warning|no such|not found|connection failed" "$work/console.txt"; then
    fail "a complaint on the console"
fi
for class in $classes; do
    grep -q "^$class [0-9.e-]* % loud [0-9.e-]* % decaying$" "$work/console.txt" ||
        fail "no timing row for $class"
done
if [ -z "$altered" ]; then
    for class in $classes; do
        grep -q "^$class: loaded and ok in all [0-9]* cases$" "$work/console.txt" || fail "$class is not ok"
    done
    want="tavrelle self-test: passed"
else
    bad=$(basename "$altered" .pd_linux)
    grep -q "^$bad [a-z].*: first difference at sample [0-9]*: " "$work/console.txt" ||
        fail "no difference reported for $bad"
    [ "$(grep -c ': loaded and ok in all' "$work/console.txt")" -eq $((count - 1)) ] || fail "other classes not ok"
    want="tavrelle self-test: FAILED (1 of $count classes)"
fi
[ "$(tail -n 1 "$work/console.txt")" = "$want" ] || fail "the last line is not \"$want\""
