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
git ls-files -co --exclude-standard -z -- . ':!build-pds' | tar -c --null -T - | (mkdir -p "$tree" && tar -x -C "$tree")
tar -c -J --exclude="tavrelle-$upstream/debian" -f "$out/tavrelle_$upstream.orig.tar.xz" -C "$out" \
    --sort=name --owner=0 --group=0 --mtime=@0 "tavrelle-$upstream"
(cd "$out" && dpkg-source -q -b "tavrelle-$upstream")

for arch in $arches; do
    echo "deb.sh: pd-tavrelle for $arch"
    cross=
    [ "$arch" = "$native" ] || cross=-a$arch
    (cd "$tree" && dpkg-buildpackage -b -us -uc $cross) > "$out/build-$arch.log" 2>&1 || {
        tail -n 40 "$out/build-$arch.log"
        echo "deb.sh: the $arch build failed (all of it in $out/build-$arch.log)" >&2
        exit 1
    }
done

status=0
for file in "$out"/*.dsc "$out"/*.deb; do
    lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$file" || {
        echo "deb.sh: lintian finds errors or warnings in $file" >&2
        status=1
    }
done

# The ARM plug-ins inside the packages: the same checks as the ARM builds' own.
for arch in $arches; do
    case $arch in
    armhf) check=tests/check-armv6.sh triple=arm-linux-gnueabihf ;;
    arm64) check=tests/check-arm64.sh triple=aarch64-linux-gnu ;;
    *) continue ;;
    esac
    unpacked=$out/unpacked-$arch
    dpkg-deb -x "$out/pd-tavrelle_${version}_$arch.deb" "$unpacked"
    sh $check $triple-readelf $triple-objdump "$unpacked"/usr/lib/pd/extra/tavrelle/*~.*[!d] ||
        status=1
done
[ $status -eq 0 ] && echo "deb.sh: $(ls "$out"/*.deb | wc -l) packages in $out, lintian-clean"
exit $status
