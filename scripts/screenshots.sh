#!/bin/sh
# screenshots.sh STAGE OUT: a 1024x768 screenshot of every help patch, its [pd reference],
# every example and abstraction, as Pd's GUI shows them (under Xvfb, from the installed
# folder STAGE), into OUT/*.png.
set -eu
stage=$(cd "$1" && pwd); mkdir -p "$2"; out=$(cd "$2" && pwd)
display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
shot() { # shot NAME FOLDER FILE [SEND]
    (cd "$2" && DISPLAY=$display pd -noaudio -noprefs -open "$3" ${4:+-send "$4"} > /dev/null 2>&1 &
        echo $! > "$out/.pid")
    sleep 3
    DISPLAY=$display import -window root "$out/$1.png"
    kill "$(cat "$out/.pid")"; sleep 0.5
}
for help in "$stage"/*-help.pd; do
    name=$(basename "$help" .pd)
    shot "$name" "$stage" "$name.pd"
    shot "$name-reference" "$stage" "$name.pd" "pd-reference vis 1"
done
for patch in "$stage"/examples/*.pd; do
    name=$(basename "$patch" .pd)
    case $name in *-render | tav.render~ | tav.record~) continue ;; esac
    shot "$name" "$stage/examples" "$name.pd"
done
rm -f "$out/.pid"
