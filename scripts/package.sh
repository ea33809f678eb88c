#!/bin/bash
# package.sh: builds the deken archive of the staged library, build/tavrelle[v1.0](Linux-amd64-32).dek
# (a ZIP holding the single folder tavrelle/), with its .dek.sha256 and the .dek.txt
# object list made from the help patches' descriptions. When the ARM build exists
# (build-arm/tavrelle/*.l_arm) its plug-ins join the same folder and the archive is
# named for both platforms.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(tavrelle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=build/package
rm -rf "$work"
mkdir -p "$work"
cp -R build/tavrelle "$work/tavrelle"
platforms="(Linux-amd64-32)"
if compgen -G "build-arm/tavrelle/*.l_arm" > /dev/null; then
    cp build-arm/tavrelle/*.l_arm "$work/tavrelle/"
    platforms="$platforms(Linux-armv6-32)"
fi
name="tavrelle[v$version]$platforms.dek"
rm -f build/tavrelle\[v*.dek*
(cd "$work" && zip -qrX "../$name" tavrelle)
(cd build && sha256sum "$name" | cut -d' ' -f1 > "$name.sha256")
# One line per class: its name, a tab and the DESCRIPTION of its [pd META].
for help in build/tavrelle/*-help.pd; do
    class=$(basename "$help" -help.pd)
    description=$(tr '\n' ' ' < "$help" | grep -o '#X text [0-9]* [0-9]* DESCRIPTION [^;]*' |
        sed 's/^#X text [0-9]* [0-9]* DESCRIPTION //; s/, f [0-9]*$//; s/ \\,/,/g')
    printf '%s\t%s\n' "$class" "$description"
done > "build/$name.txt"
echo "build/$name: $(unzip -Z1 "build/$name" | grep -c '_linux$\|\.l_arm$') plug-ins, $(wc -l < "build/$name.txt") objects listed"
