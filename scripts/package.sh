#!/bin/bash
# package.sh [--all]: builds the deken archive build/tavrelle[v1.0](<platform>)....dek (a
# ZIP holding the single folder tavrelle/) with its .dek.sha256 and the .dek.txt object
# list made from the help patches' descriptions. It holds what a patcher needs: the
# plug-ins of every build there is (build/, build-arm/, build-arm64/; with --all each
# must be there), the help patches, the meta patch, the self-test with its data, the
# examples without the demo's rendering plumbing, the licence and a short README. Before it names the archive, it
# reads every plug-in as deken does (ELF machine, the ARM architecture attribute, and
# class_new or class_new64 for the float size) and fails unless each is of the machine
# and float size its file name says; the archive's name lists exactly what it found. The
# macOS bundles (build-macos/) are read the same way: Mach-O, the cpu of each slice, and
# class_new or class_new64; the Windows DLLs from their PE headers. A Sources archive of
# the repository's committed files goes beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(tavrelle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=build/package
rm -rf "$work"
mkdir -p "$work/tavrelle/examples"
lib=$work/tavrelle

cp build/tavrelle/*-help.pd build/tavrelle/tavrelle-meta.pd LICENSE "$lib/"
cp -R build/tavrelle/tavrelle-selftest.pd build/tavrelle/selftest "$lib/"
cp docs/package-README.md "$lib/README.md"
cp build/tavrelle/tavrelle-selftest.pd "$lib/"
cp -R build/tavrelle/selftest "$lib/"
for patch in build/tavrelle/examples/*.pd; do
    case $(basename "$patch") in *-render.pd | tav.render~.pd | tav.record~.pd) continue ;; esac
    cp "$patch" "$lib/examples/"
done

# The plug-in file names Pd looks for, each with the platform it must hold.
declare -A platform_of=([.pd_linux]=amd64-32 [.linux-amd64-64.so]=amd64-64 [.l_arm]=armv6-32
    [.linux-armv6-64.so]=armv6-64 [.linux-armv7-64.so]=armv6-64 [.l_arm64]=arm64-32
    [.linux-arm64-64.so]=arm64-64)
# copy_plugins NAMES GLOB BUILD...: copies from each build the plug-ins with a name in the
# array NAMES; a build without a file matching GLOB is left out, or with --all fails.
mode=${1:-}
copy_plugins() {
    local -n names=$1
    local glob=$2 build extension
    shift 2
    for build in "$@"; do
        if ! compgen -G "$build/tavrelle/$glob" >/dev/null; then
            [ "$mode" = --all ] && { echo "package.sh: $build/tavrelle holds no plug-ins" >&2; exit 1; }
            continue
        fi
        for extension in "${!names[@]}"; do
            if compgen -G "$build/tavrelle/*$extension" >/dev/null; then
                cp "$build"/tavrelle/*"$extension" "$lib/"
            fi
        done
    done
}
copy_plugins platform_of '*~.[pl]*' build build-arm build-arm64

# The Windows DLLs (build-windows-amd64/, build-windows-i386/; with --all each must be
# there), each name with the platform it must hold: the format and CPU from the PE
# header, the float size from the import of class_new or class_new64.
declare -A windows_of=([.windows-amd64-32.dll]=amd64-32 [.m_amd64]=amd64-32
    [.windows-amd64-64.dll]=amd64-64 [.windows-i386-32.dll]=i386-32 [.m_i386]=i386-32)
copy_plugins windows_of '*~.*dll' build-windows-amd64 build-windows-i386
detect_windows() {
    local headers cpu size
    headers=$(objdump -p "$1")
    case $(sed -n 's/.*file format //p' <<< "$headers" | head -1) in
    pei-x86-64) cpu=amd64 ;;
    pei-i386) cpu=i386 ;;
    *) cpu=unknown ;;
    esac
    size=$(awk '/^\tDLL Name: / { dll = tolower($3) } dll == "pd.dll" && /^\t[0-9a-f]+\t/ { print $NF }' <<< "$headers" |
        sed -n 's/^class_new$/32/p; s/^class_new64$/64/p' | sort -u | tr '\n' ' ')
    echo "$cpu-${size% }"
}

# The machine and float size of a plug-in, read from the file.
detect() {
    local header machine cpu size
    header=$(readelf -h "$1")
    machine=$(sed -n 's/^ *Machine: *//p' <<< "$header")
    case $machine in
    *X86-64*) cpu=amd64 ;;
    *AArch64*) cpu=arm64 ;;
    ARM) cpu=$(readelf -A "$1" | sed -n 's/^ *Tag_CPU_arch: v\([0-9]*\).*/armv\1/p') ;;
    *) cpu=unknown ;;
    esac
    size=$(readelf --dyn-syms -W "$1" | awk '$7 == "UND" {print $8}' | sed 's/@.*//' |
        sed -n 's/^class_new$/32/p; s/^class_new64$/64/p' | sort -u | tr '\n' ' ')
    echo "$cpu-${size% }"
}

platforms=""
status=0
windows_platforms=""
for plugin in "$lib"/*~.*; do
    file=$(basename "$plugin")
    extension=.${file#*~.}
    if [ -n "${windows_of[$extension]:-}" ]; then
        want=${windows_of[$extension]}
        got=$(detect_windows "$plugin")
        [ "$got" = "$want" ] || { echo "package.sh: $file holds Windows-$got, its name says Windows-$want" >&2; status=1; }
        windows_platforms="$windows_platforms $got"
        continue
    fi
    want=${platform_of[$extension]:-}
    got=$(detect "$plugin")
    if [ "$got" != "$want" ]; then
        echo "package.sh: $file holds Linux-$got, its name says Linux-${want:-nothing Pd loads}" >&2
        status=1
    fi
    platforms="$platforms $got"
done

# macOS: the bundles of both cpus and float sizes, and the fat file of both single-precision
# ones for Pd 0.51 to 0.53.
declare -A darwin_platform_of=([.darwin-amd64-32.so]=amd64-32 [.darwin-arm64-32.so]=arm64-32
    [.darwin-amd64-64.so]=amd64-64 [.darwin-arm64-64.so]=arm64-64 [.d_fat]=fat-32)
if compgen -G "build-macos/tavrelle/*~.d*" >/dev/null; then
    for extension in "${!darwin_platform_of[@]}"; do
        cp build-macos/tavrelle/*"$extension" "$lib/"
    done
elif [ "${1:-}" = --all ]; then
    echo "package.sh: build-macos/tavrelle holds no plug-ins" >&2; exit 1
fi
detect_darwin() {
    local archs cpu size
    archs=$(llvm-lipo-14 -archs "$1" 2>/dev/null | tr ' ' '\n' | grep . | sort | tr '\n' ' ') || archs=""
    case $archs in
    "x86_64 ") cpu=amd64 ;;
    "arm64 ") cpu=arm64 ;;
    "arm64 x86_64 ") cpu=fat ;;
    *) cpu=unknown ;;
    esac
    size=$(llvm-nm-14 -u --arch=all "$1" 2>/dev/null | sed -n 's/^_class_new$/32/p; s/^_class_new64$/64/p' |
        sort -u | tr '\n' ' ')
    echo "$cpu-${size% }"
}
for plugin in "$lib"/*~.darwin-*.so "$lib"/*~.d_fat; do
    [ -e "$plugin" ] || continue
    file=$(basename "$plugin")
    extension=.${file#*~.}
    want=${darwin_platform_of[$extension]:-}
    got=$(detect_darwin "$plugin")
    if [ "$got" != "$want" ]; then
        echo "package.sh: $file holds Darwin-$got, its name says Darwin-${want:-nothing Pd loads}" >&2
        status=1
    fi
    [ "$got" = fat-32 ] && got="amd64-32 arm64-32" # the fat file's slices
    darwin_platforms="${darwin_platforms:-} $got"
done

[ $status -eq 0 ] || exit 1
order="amd64-32 armv6-32 arm64-32 amd64-64 armv6-64 arm64-64"
name="tavrelle[v$version]"
for p in $order; do
    [[ " $platforms " == *" $p "* ]] && name="$name(Linux-$p)"
done
for p in amd64-32 arm64-32 amd64-64 arm64-64; do
    [[ " ${darwin_platforms:-} " == *" $p "* ]] && name="$name(Darwin-$p)"
done
for p in amd64-32 amd64-64 i386-32; do
    [[ " $windows_platforms " == *" $p "* ]] && name="$name(Windows-$p)"
done
name="$name.dek"

rm -f build/tavrelle\[v*.dek* build/tavrelle\[v*\]\(Sources\).*
(cd "$work" && zip -qrX "../$name" tavrelle)
(cd build && sha256sum "$name" | cut -d' ' -f1 > "$name.sha256")
# One line per class: its name, a tab and the DESCRIPTION of its [pd META].
for help in "$lib"/*-help.pd; do
    class=$(basename "$help" -help.pd)
    description=$(tr '\n' ' ' < "$help" | grep -o '#X text [0-9]* [0-9]* DESCRIPTION [^;]*' |
        sed 's/^#X text [0-9]* [0-9]* DESCRIPTION //; s/, f [0-9]*$//; s/ \\,/,/g')
    printf '%s\t%s\n' "$class" "$description"
done > "build/$name.txt"

sources="tavrelle[v$version](Sources).dek"
git archive --format=zip --prefix=tavrelle/ -o "build/$sources" HEAD
(cd build && sha256sum "$sources" | cut -d' ' -f1 > "$sources.sha256")

echo "build/$name: $(unzip -Z1 "build/$name" | grep -cE '~\.(pd_linux|l_arm|l_arm64|linux-[a-z0-9]*-64\.so|darwin-[a-z0-9]*-(32|64)\.so|d_fat|windows-[a-z0-9]*-(32|64)\.dll|m_amd64|m_i386)$' || true) plug-ins," \
    "$(wc -l < "build/$name.txt") objects listed; build/$sources"
