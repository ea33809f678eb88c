#!/bin/sh
# pd-tests.sh PLUGIN_DIR NAME...
# The tests inside Pd in each Pd that scripts/pds.sh names, loading the plug-ins of
# PLUGIN_DIR: always the x86-64 build's test program, so that every output is compared
# bit for bit with the x86-64 single-precision test host's. A Pd whose name ends in -64
# is the double-precision Pd; Pd 0.53 on 64-bit ARM stores tiny and huge samples in a table
# as they are, which the others set to 0. $TAVRELLE_PD_FILTER, a GoogleTest filter, picks a subset of
# the cases (for the slower emulated Pds). Then the self-test patch of PLUGIN_DIR in that Pd.
set -e
cd "$(dirname "$0")/.."
plugins=$(cd "$1" && pwd)
shift
for name; do
    pd=$(scripts/pds.sh "$name")
    case $name in *-64) size=64 ;; *) size=32 ;; esac
    case $name in 0.53-arm64) keeps=1 ;; *) keeps= ;; esac
    echo "Pd $name ($size-bit samples) with $plugins${TAVRELLE_PD_FILTER:+, cases $TAVRELLE_PD_FILTER}:"
    env TAVRELLE_PD="$pd" TAVRELLE_PD_FLOATSIZE=$size TAVRELLE_PLUGIN_DIR="$plugins" \
        ${keeps:+TAVRELLE_PD_KEEPS_TINY_AND_HUGE=1} \
        build/tests/pd/pd_tests --gtest_brief=1 ${TAVRELLE_PD_FILTER:+--gtest_filter="$TAVRELLE_PD_FILTER"}
    echo "The self-test in Pd $name:"
    TAVRELLE_PD="$pd" sh tests/lib/selftest.sh "$plugins"
    echo passed
done
