#!/bin/bash
# installed-test.sh DEB_DIR ARCH...: each ARCH's pd-tavrelle package, installed with
# dpkg -i into a throwaway copy of this system (an overlay of / in a private mount
# namespace, as root) and run there as a patcher runs it: in each Pd of that machine
# (scripts/pds.sh; under qemu for ARM), with Pd's default search path, a scratch HOME
# and no other copy of the library anywhere Pd looks, a new patch in a folder of its
# own creates every class through [declare -path tavrelle] and as [tavrelle/<class>],
# then the self-test runs from the installed folder (on x86-64 also inside libpd,
# through libpd's search path). The install must write exactly the package's files, and
# dpkg -r must leave nothing of them behind. The ARM packages are installed with
# --force-depends: only an amd64 Pd is installed here, theirs runs from build-pds.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" -eq 0 ] ||
        { echo "installed-test.sh: needs root (a mount namespace)" >&2; exit 1; }
    debs=$(cd "$1" && pwd)
    shift
    for arch; do
        case $arch in
        amd64) pds="0.53 0.55 0.55-64" ;;
        *) pds="0.53-$arch 0.55-$arch 0.55-$arch-64" ;;
        esac
        # Unpacked outside the throwaway system, so that they last.
        commands=$(cd "$src" && scripts/pds.sh $pds | tr '\n' ';')
        unshare --mount --propagation private bash "$0" --inside "$debs" "$arch" "$commands"
    done
    exit 0
fi
debs=$2 arch=$3 commands=$4
package=$(ls "$debs"/pd-tavrelle_*_"$arch".deb)
scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"
mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" \
    "$scratch/root"
mount --bind /dev "$scratch/root/dev"
mount -t proc proc "$scratch/root/proc"
inside() { chroot "$scratch/root" env HOME=/tmp/installed-test-home "$@"; }
# What the system's own changes leave in the overlay: dpkg's records, logs and scratch.
own='^/(var/lib/dpkg|var/log|var/cache|tmp|etc/ld\.so\.cache)(/|$)'
written() { (cd "$scratch/upper" && find . ! -type d | sed 's/^\.//' | grep -Ev "$own" | sort) ||
    true; }
fail() { echo "installed-test.sh ($arch): $*" >&2; exit 1; }

for other in /usr/local/lib/pd-externals /usr/lib/pd/extra /usr/lib/puredata/extra; do
    [ ! -e "$scratch/root$other/tavrelle" ] || fail "another copy of the library in $other"
done
force=
[ "$arch" = "$(dpkg --print-architecture)" ] || force=--force-depends
run_dpkg() { inside dpkg "$@" > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg $1"; }; }
run_dpkg -i $force "$package"
[ "$(written)" = "$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort)" ] ||
    fail "the install wrote other files than the package's: $(written)"

library=/usr/lib/pd/extra/tavrelle
mkdir "$scratch/root/tmp/installed-test-home"
IFS=';' read -r -a pds <<< "$commands"
for pd in "${pds[@]}"; do
    echo "$arch package in $pd:"
    inside env TAVRELLE_PD="$pd" sh "$src/tests/lib/opens-cleanly.sh" installed \
        "$src/tests/lib/anywhere.pd" || fail "a new patch did not create every class"
    inside env TAVRELLE_PD="$pd" sh "$src/tests/lib/selftest.sh" "$library" ||
        fail "the self-test failed"
    echo passed
done

# On this machine, the installed library inside libpd too (through libpd's search path).
if [ -z "$force" ]; then
    host=$src/build/tests/libpd/libpd_host
    [ -x "$host" ] || fail "no libpd host: make check-libpd builds it"
    for ftz in "" -ftz; do
        echo "$arch package in libpd${ftz:+ with flush-to-zero}:"
        inside sh "$src/tests/libpd/selftest-in-libpd.sh" $library "$host" $ftz -path $library ||
            fail "the self-test failed in libpd"
        echo passed
    done
fi

run_dpkg -r pd-tavrelle
[ -z "$(written)" ] || fail "dpkg -r left behind: $(written)"
[ ! -e "$scratch/root/usr/lib/pd" ] || fail "dpkg -r left /usr/lib/pd behind"
echo "$arch package: installed, passed in ${#pds[@]} Pds, removed without a trace"
