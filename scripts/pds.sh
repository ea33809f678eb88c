#!/bin/sh
# pds.sh NAME...
# The Pure Data programs the tests run in, beside the system's own Pd 0.53: each is
# unpacked privately from Debian's package into build-pds/NAME/ (the program only; its
# libraries come from the packages deps.sh installs), so that the system keeps its Pd.
# Prints, one line per NAME, the command that starts that Pd (under qemu on another
# machine). Pd 0.55 comes from bookworm-backports, which is added, if missing, to the
# Suites of the machine's existing Debian source entry (as root).
#
#   NAME            package          machine  suite
#   0.53            the system's Pd
#   0.53-armhf      puredata-core    armhf    bookworm
#   0.53-arm64      puredata-core    arm64    bookworm
#   0.55            puredata-core    amd64    bookworm-backports
#   0.55-64         puredata64-core  amd64    bookworm-backports   (double precision)
#   0.55-armhf      puredata-core    armhf    bookworm-backports
#   0.55-armhf-64   puredata64-core  armhf    bookworm-backports
#   0.55-arm64      puredata-core    arm64    bookworm-backports
#   0.55-arm64-64   puredata64-core  arm64    bookworm-backports
set -e
root=$(cd "$(dirname "$0")/.." && pwd)/build-pds
sources=/etc/apt/sources.list.d/debian.sources

enable_backports() {
    grep -q '^Suites:.*bookworm-backports' "$sources" 2>/dev/null && return
    if [ "$(id -u)" -ne 0 ]; then
        echo "pds.sh: Pd 0.55 is in bookworm-backports; as root, add it to the Suites of $sources" >&2
        exit 1
    fi
    sed -E -i '/^Suites:(.* )?bookworm( |$)/{/bookworm-backports/!s/$/ bookworm-backports/}' "$sources"
    apt-get update -qq || echo "pds.sh: apt-get update failed for some lists; going on with the rest" >&2
}

for name; do
    case $name in
    0.53) echo pd; continue ;;
    0.53-*) suite=bookworm ;;
    0.55*) suite=bookworm-backports ;;
    *) echo "pds.sh: no Pd named $name" >&2; exit 2 ;;
    esac
    case $name in *-64) package=puredata64-core program=puredata64 ;;
    *) package=puredata-core program=puredata ;; esac
    case $name in *armhf*) arch=armhf emulator=qemu-arm ;;
    *arm64*) arch=arm64 emulator=qemu-aarch64 ;;
    *) arch=amd64 emulator= ;; esac
    [ "$arch" = "$(dpkg --print-architecture)" ] && emulator=
    dir=$root/$name
    if [ ! -x "$dir/usr/bin/$program" ]; then
        [ $suite = bookworm-backports ] && enable_backports
        work=$(mktemp -d)
        # apt's sandbox user can't write into a private temporary folder; saying so is all
        # the noise it makes when that is the only problem.
        (cd "$work" && apt-get download -qq "$package:$arch/$suite" 2>"$work/log") || {
            cat "$work/log" >&2
            echo "pds.sh: cannot download $package:$arch from $suite (is $arch a dpkg" \
                "architecture? scripts/deps.sh install arm / arm64 sets it up)" >&2
            rm -rf "$work"
            exit 1
        }
        mkdir -p "$work/root" "$root"
        dpkg-deb --fsys-tarfile "$work"/${package}_*.deb | tar -x -C "$work/root" ./usr/bin/$program
        rm -rf "$dir"
        mv "$work/root" "$dir"
        echo "unpacked $(basename "$work"/${package}_*.deb) into $dir" >&2
        rm -rf "$work"
    fi
    echo ${emulator:+$emulator }$dir/usr/bin/$program
done
