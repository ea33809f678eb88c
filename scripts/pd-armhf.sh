#!/bin/sh
# pd-armhf.sh DIR
# Unpacks the Pure Data program of Debian's armhf puredata-core package into DIR (as
# DIR/usr/bin/puredata), for running the tests inside Pd under qemu-arm. Only the
# program is taken; its libraries come from the armhf packages deps.sh installs.
set -e
dir=$1
[ -x "$dir/usr/bin/puredata" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt's sandbox user can't write into a private temporary folder; saying so is all the
# noise it makes when that is the only problem.
(cd "$work" && apt-get download -qq puredata-core:armhf 2>"$work/log") || {
    cat "$work/log" >&2
    echo "pd-armhf.sh: cannot download puredata-core:armhf (is armhf a dpkg architecture?" \
        "scripts/deps.sh install arm sets it up)" >&2
    exit 1
}
mkdir -p "$dir"
dpkg-deb --fsys-tarfile "$work"/puredata-core_*_armhf.deb | tar -x -C "$dir" ./usr/bin/puredata
echo "unpacked $(basename "$work"/puredata-core_*_armhf.deb) into $dir"
