#!/bin/bash
# package-test.sh SOURCE_DIR: builds the deken archive and checks it: one top-level
# folder tavrelle/ holding every class's plug-in and help patch and the self-test with
# its data, a checksum that matches, and one object line per class with its description.
set -euo pipefail
cd "$1"
bash scripts/package.sh > /dev/null
dek=$(ls build/tavrelle\[v1.0\]*.dek | grep -v '(Sources)')
status=0
listing=$(unzip -Z1 "$dek")
tops=$(cut -d/ -f1 <<< "$listing" | sort -u)
[ "$tops" = tavrelle ] || { echo "top-level entries: $tops"; status=1; }
# What a patcher needs, and none of the demo's rendering plumbing.
grep -q '^tavrelle/examples/reverb\.pd$' <<< "$listing" || { echo "no examples"; status=1; }
grep -E -- '-render\.pd$|tav\.render~|tav\.record~' <<< "$listing" && { echo "holds the demo's plumbing"; status=1; }
unzip -p "$dek" tavrelle/README.md | grep -q '^## Where it runs' || { echo "README is not the user's"; status=1; }
for plugin in build/tavrelle/*.pd_linux; do
    class=$(basename "$plugin" .pd_linux)
    for f in "$class.pd_linux" "$class-help.pd"; do
        grep -qxF "tavrelle/$f" <<< "$listing" || { echo "missing tavrelle/$f"; status=1; }
    done
    grep -q "^$class	[a-z].*[a-z]$" "$dek.txt" || { echo "no description line for $class"; status=1; }
done
for f in tavrelle-selftest.pd selftest/input.wav selftest/expected.wav; do
    grep -qxF "tavrelle/$f" <<< "$listing" || { echo "missing tavrelle/$f"; status=1; }
done
[ "$(wc -l < "$dek.txt")" -eq "$(ls build/tavrelle/*.pd_linux | wc -l)" ] || { echo "object list length"; status=1; }
[ "$(sha256sum "$dek" | cut -d' ' -f1)" = "$(cat "$dek.sha256")" ] || { echo "checksum differs"; status=1; }
exit $status
