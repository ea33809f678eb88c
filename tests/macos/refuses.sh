#!/bin/sh
# refuses.sh PROBE CASES: the macOS checks refuse PROBE, damp~ altered and with a fused
# multiply-add (tests/support/fused_probe.cpp): check_bundles.py for its fused multiply-adds and, with one byte of its code
# changed, for the page hash that no longer matches; emulate.py for bits that differ from
# Linux. Fails if any of them lets it pass.
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
expect() { # WHAT OUTPUT: OUTPUT must say WHAT
    printf '%s\n' "$2" | grep -q "$1" || { echo "refuses.sh: not refused for $1:"; echo "$2"; status=1; }
}
cp "$1" "$work/"
expect "fused multiply-add" "$(/usr/bin/python3 "$here/check_bundles.py" "$work")"
expect "Linux" "$(/usr/bin/python3 "$here/emulate.py" "$2" "$work")"
printf 'x' | dd of="$work/$(basename "$1")" bs=1 seek=1500 conv=notrunc 2>/dev/null
expect "page 0's hash is wrong" "$(/usr/bin/python3 "$here/check_bundles.py" "$work")"
[ $status -eq 0 ] && echo "refuses.sh: $(basename "$1") altered and fused, is refused"
exit $status
