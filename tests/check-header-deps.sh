#!/bin/sh
# check-header-deps.sh NINJA BUILD_DIR HEADER OBJECT...
# Fails unless Ninja has recorded HEADER among the dependencies of every OBJECT, so that
# editing a shared header rebuilds the plug-ins that include it.
ninja=$1 dir=$2 header=$3
shift 3
status=0
for object in "$@"; do
    relative=${object#"$dir"/}
    if ! "$ninja" -C "$dir" -t deps "$relative" | grep -q "/$header\$"; then
        echo "$relative: Ninja does not know that it depends on $header"
        status=1
    fi
done
[ $status -eq 0 ] && echo "every object depends on $header"
exit $status
