#!/bin/sh
# same-selftest.sh LINUX_STAGE WINDOWS_OUT: the self-test's patch and data that the Windows
# DLLs computed under wine (bare samples) equal what the Linux build wrote (the data
# chunk ends each of its WAV files), byte for byte.
linux=$1 windows=$2
status=0
cmp "$linux/tavrelle-selftest.pd" "$windows/tavrelle-selftest.pd" || status=1
for f in input expected; do
    n=$(stat -c %s "$windows/selftest/$f.wav") || exit 1
    [ "$n" -gt 0 ] || { echo "$f: no samples"; status=1; }
    tail -c "$n" "$linux/selftest/$f.wav" | cmp - "$windows/selftest/$f.wav" || { echo "$f differs"; status=1; }
done
[ $status -eq 0 ] && echo "every self-test sample is the same on Windows as on Linux"
exit $status
