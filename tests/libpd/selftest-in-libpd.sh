#!/bin/sh
# selftest-in-libpd.sh LIBRARY HOST [HOST_FLAG...]: the self-test of LIBRARY (the staged
# or installed folder), run by the libpd host HOST as the self-test runner runs Pd, from a
# scratch folder that holds the patch, its data and the help patches but no plug-in, so
# that the classes come from HOST_FLAGs (-path LIBRARY) or from HOST itself.
set -u
library=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$library/tavrelle-selftest.pd" "$library/selftest" "$library"/*-help.pd "$work/"
TAVRELLE_PD="$*" sh "$(dirname "$0")/../lib/selftest.sh" "$work"
