#!/bin/sh
# plots.sh: measures every class through its plug-in (the measure program loads them
# with the test host) into build/plots/*.dat and draws docs/*.png with gnuplot.
set -e
cd "$(dirname "$0")/.."
cmake --build --preset default --target measure > /dev/null
mkdir -p build/plots docs
build/tests/plots/measure build/plots
gnuplot scripts/plots.gp
ls docs/*.png | sed 's/^/drew /'
