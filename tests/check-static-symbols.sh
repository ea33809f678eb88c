#!/bin/sh
# check-static-symbols.sh NM LIBRARY EXPORT...: fails unless the static LIBRARY defines
# exactly the EXPORTs as global names, each once, so that linking it into a program adds
# nothing else to the program's namespace.
nm=$1 library=$2
shift 2
defined=$("$nm" -g --defined-only "$library" | awk 'NF == 3 {print $3}' | sort)
wanted=$(printf '%s\n' "$@" | sort)
[ "$defined" = "$wanted" ] && { echo "$library defines exactly: $(echo $wanted)"; exit 0; }
echo "$library defines:"; echo "$defined"; echo "expected:"; echo "$wanted"
exit 1
