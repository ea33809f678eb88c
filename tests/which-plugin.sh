#!/bin/sh
# which-plugin.sh FOLDER NAME...
# FOLDER holds the library as it is installed (the plug-ins of every machine and float size
# in one folder named tavrelle). In each Pd that scripts/pds.sh names, a patch beside the
# folder creates every class as [tavrelle/<class>], as a patcher's would, with nothing
# configured (-noprefs, no -path); fails unless every object was created from the file
# that Pd must load: for its machine and its float size. Prints which file each Pd loaded.
set -e
cd "$(dirname "$0")/.."
folder=$(cd "$1" && pwd)
shift
[ "$(basename "$folder")" = tavrelle ] || { echo "which-plugin.sh: the folder must be named tavrelle" >&2; exit 2; }
patch=$(dirname "$folder")/which-plugin.pd
classes=$(cd "$folder" && ls *-help.pd | sed 's/-help\.pd$//')
{
    echo "#N canvas 0 0 400 400 12;"
    echo "#X obj 200 10 loadbang;"
    echo "#X msg 200 40 \\; pd quit;"
    echo "#X connect 0 0 1 0;"
    y=10
    for class in $classes; do echo "#X obj 10 $y tavrelle/$class;"; y=$((y + 30)); done
} > "$patch"
status=0
for name; do
    case $name in
    0.53 | 0.55) want=.pd_linux ;;
    0.55-64) want=.linux-amd64-64.so ;;
    *armhf-64) want=.linux-armv7-64.so ;; # Debian's armhf Pd is built for ARMv7
    *armhf) want=.l_arm ;;
    *arm64-64) want=.linux-arm64-64.so ;;
    *arm64) want=.l_arm64 ;;
    esac
    pd=$(scripts/pds.sh "$name")
    log=$(cd "$(dirname "$patch")" && timeout 120 $pd -nogui -noaudio -batch -noprefs -verbose -stderr \
        -open which-plugin.pd 2>&1) || true
    loaded=$(printf '%s\n' "$log" | sed -n 's/^\(verbose([0-9]*): \)\{0,1\}tried \(.*\) and succeeded$/\2/p' |
        grep -v 'which-plugin\.pd$' || true)
    bad=""
    for class in $classes; do
        file=$(printf '%s\n' "$loaded" | grep -F "/$class." || true)
        [ "$file" = "$folder/$class$want" ] || bad="$bad $class(${file:-nothing})"
    done
    printf '%s\n' "$log" | grep -q "couldn't create" && bad="$bad (an object was not created)"
    if [ -n "$bad" ]; then
        echo "Pd $name: not from tavrelle/*$want:$bad"
        printf '%s\n' "$log" | grep -i "error\|couldn't\|tried.*$class" | head -20
        status=1
    else
        echo "Pd $name loads tavrelle/<class>$want"
    fi
done
rm -f "$patch"
exit $status
