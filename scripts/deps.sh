#!/bin/sh
# deps.sh [check|install] [group...]
# The Debian packages each part of the build needs, grouped; `check` says whether they
# are all installed, `install` installs the missing ones (as root, through apt-get).
set -e
mode=${1:-check}
shift || true
groups=${*:-base}
packages=""
for g in $groups; do
    case $g in
    base) packages="$packages cmake ninja-build g++ make pkg-config puredata-core puredata-dev libsndfile1-dev googletest libgtest-dev libmpfr-dev" ;;
    bench) packages="$packages libbenchmark-dev valgrind python3" ;;
    sanitizers) packages="$packages clang-14 libclang-rt-14-dev" ;;
    load) packages="$packages valgrind" ;;
    plots) packages="$packages gnuplot-nox" ;;
    # Pd's GUI (puredata-core alone runs only with -nogui), for a machine with a display.
    gui) packages="$packages puredata-gui" ;;
    # Screenshots of the help patches and examples in Pd's GUI on a virtual display.
    screenshots) packages="$packages puredata-gui xvfb imagemagick" ;;
    package) packages="$packages zip unzip deken" ;;
    # The cross build for 32-bit ARM and the tests under qemu-arm: Debian's armhf
    # runtime, libsndfile for the tests and the libraries Pd's armhf program needs.
    arm) packages="$packages cmake ninja-build make pkg-config puredata-dev googletest
        g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user
        libsndfile1-dev:armhf libmpfr-dev:armhf libasound2:armhf libjack-jackd2-0:armhf libportaudio2:armhf" ;;
    # The same for 64-bit ARM and qemu-aarch64.
    arm64) packages="$packages cmake ninja-build make pkg-config puredata-dev googletest
        g++-aarch64-linux-gnu binutils-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user
        libsndfile1-dev:arm64 libmpfr-dev:arm64 libasound2:arm64 libjack-jackd2-0:arm64 libportaudio2:arm64" ;;
    # The macOS cross build (clang, ld64.lld, llvm-lipo; Pd's header) and its emulated tests.
    macos) packages="$packages cmake ninja-build make pkg-config puredata-dev libsndfile1-dev
        clang-14 lld-14 llvm-14 python3-unicorn" ;;
    # The Debian packages (make deb): Debian's packaging tools and the packages' build
    # dependencies for every machine they are built for (with the arm and arm64 groups).
    deb) packages="$packages build-essential debhelper dh-puredata dpkg-dev lintian xz-utils
        libgtest-dev libsndfile1-dev pkgconf:armhf pkgconf:arm64" ;;
    # libpd (Debian's libpd-dev, in bookworm-backports; it brings Pd 0.55's header).
    libpd) packages="$packages libpd-dev" backports=1 ;;
    # The Windows cross builds and their tests under wine64 (the unit tests build
    # GoogleTest from its sources).
    windows) packages="$packages cmake ninja-build make puredata-dev googletest binutils
        g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64" ;;
    # 32-bit wine, for the 32-bit Windows plug-ins' tests (through dpkg --add-architecture i386).
    wine32) packages="$packages wine32:i386" ;;
    *) echo "deps.sh: unknown group $g" >&2; exit 2 ;;
    esac
done
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
[ "$mode" = check ] && { echo "missing packages:$missing" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root, or install them yourself: apt-get install$missing" >&2
    exit 1
fi
echo "installing:$missing"
[ -z "${backports:-}" ] || "$(dirname "$0")/pds.sh" --backports
for arch in armhf arm64 i386; do
    case $missing in *:$arch*)
        dpkg --print-foreign-architectures | grep -qx $arch || dpkg --add-architecture $arch ;;
    esac
done
# A mirror caught mid-sync fails one index now and then; the lists that did arrive serve.
apt-get update -qq || echo "deps.sh: apt-get update failed for some lists; going on with the rest" >&2
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends --no-remove $missing >/dev/null
