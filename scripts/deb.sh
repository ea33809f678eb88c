#!/bin/bash
# deb.sh [ARCH...]: the Debian packages, from the library's own source package in
# debian/: the source package (.dsc) once, then pd-tavrelle for each ARCH (default amd64
# armhf arm64) with dpkg-buildpackage, natively or cross-built with -a<arch>, into
# build/deb/. Every .deb and the .dsc must be lintian-clean (no error, no warning); the
# ARM packages' plug-ins must pass the instruction checks of the ARM builds.
set -euo pipefail
cd "$(dirname "$0")/.."
arches=${*:-amd64 armhf arm64}
native=$(dpkg --print-architecture)
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
out=build/deb
tree=$out/tavrelle-$upstream
rm -rf "$out" && mkdir -p "$out"

# The source tree as committed or added, without build products.
mkdir -p "$tree"
git ls-files -co --exclude-standard -z -- . ':!build-pds' | tar -c --null -T - | tar -x -C "$tree"
tar -c -J --exclude="tavrelle-$upstream/debian" -f "$out/tavrelle_$upstream.orig.tar.xz" -C "$out" \
    --sort=name --owner=0 --group=0 --mtime=@0 "tavrelle-$upstream"
(cd "$out" && dpkg-source -q -b "tavrelle-$upstream")

status=0
for arch in $arches; do
    echo "deb.sh: pd-tavrelle for $arch"
    cross=
    [ "$arch" = "$native" ] || cross="-a$arch -Pcross,nocheck"
    (cd "$tree" && dpkg-buildpackage -b -us -uc $cross) > "$out/build-$arch.log" 2>&1 || {
        tail -n 40 "$out/build-$arch.log"
        echo "deb.sh: the $arch build failed (all of it in $out/build-$arch.log)" >&2
        exit 1
    }
    # The ARM plug-ins: the ARM builds' own instruction checks on the build's files (the
    # packaged ones are stripped of the symbols that tell code from data), and the
    # packaged files' code must be those files' code.
    case $arch in
    armhf) check=tests/check-armv6.sh triple=arm-linux-gnueabihf ;;
    arm64) check=tests/check-arm64.sh triple=aarch64-linux-gnu ;;
    *) continue ;;
    esac
    built=$tree/debian/build/tavrelle
    sh $check $triple-readelf $triple-objdump "$built"/*~.[!p]* || status=1
    unpacked=$out/unpacked-$arch
    dpkg-deb -x "$out/pd-tavrelle_${version}_$arch.deb" "$unpacked"
    for plugin in "$built"/*~.[!p]*; do
        packaged=$unpacked/usr/lib/pd/extra/tavrelle/${plugin##*/}
        cmp -s <($triple-objcopy -O binary -j .text "$plugin" /dev/stdout) \
            <($triple-objcopy -O binary -j .text "$packaged" /dev/stdout) ||
            { echo "deb.sh: $packaged is not the code that was checked" >&2; status=1; }
    done
done

for file in "$out"/*.dsc "$out"/*.deb; do
    report=$(lintian --fail-on error,warning "$file" 2>&1) || {
        echo "deb.sh: lintian finds errors or warnings in $file" >&2
        status=1
    }
    grep -v '^running with root privileges' <<< "$report" || true
done
[ $status -eq 0 ] && echo "deb.sh: $(ls "$out"/*.deb | wc -l) packages in $out, lintian-clean"
exit $status
