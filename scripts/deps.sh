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
    base) packages="$packages cmake ninja-build g++ make pkg-config puredata-core puredata-dev libsndfile1-dev googletest libgtest-dev" ;;
    plots) packages="$packages gnuplot-nox" ;;
    package) packages="$packages zip unzip" ;;
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
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
