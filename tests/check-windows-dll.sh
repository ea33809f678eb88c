#!/bin/sh
# check-windows-dll.sh OBJDUMP PD_DEF DLL EXPORT...
# Fails unless DLL, as the Windows loader reads it (objdump -p): is a PE image of the CPU
# and float size its name says (class_new or class_new64 imported); exports exactly the
# EXPORTs; imports from pd.dll only what PD_DEF lists and from msvcrt.dll only memset,
# memcpy and the error reporting of mingw-w64's maths; has no entry point, no TLS and no
# constructor sections, so nothing runs when it loads. In a 32-bit DLL every x87
# instruction outside mingw-w64's maths (sin, exp and their helpers) only moves a value.
objdump=$1 def=$2 dll=$3
shift 3
name=$(basename "$dll")
status=0
fail() { echo "$name: $*"; status=1; }
headers=$("$objdump" -p "$dll") || exit 1

case $name in
*.windows-amd64-32.dll | *.m_amd64) want=pei-x86-64 size=32 ;;
*.windows-amd64-64.dll) want=pei-x86-64 size=64 ;;
*.windows-i386-32.dll | *.m_i386) want=pei-i386 size=32 ;;
*) fail "not a name Pd on Windows loads"; exit 1 ;;
esac
format=$(printf '%s\n' "$headers" | sed -n 's/.*file format //p' | head -1)
[ "$format" = "$want" ] || fail "is $format, its name says $want"

# The export table's name pointers, and each imported DLL with its names.
exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' | sort)
[ "$exports" = "$(printf '%s\n' "$@" | grep . | sort)" ] || fail "exports $(echo $exports), expected $*"
imports=$(printf '%s\n' "$headers" | awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll && /^\t[0-9a-f]+\t *[0-9]+ +[^ ]+$/ { print dll, $NF; next }
    /^$/ { dll = "" }')
api=$(sed -n 's/^    \([A-Za-z_0-9]*\).*/\1/p' "$def")
msvcrt="memset memcpy _errno __setusermatherr"
printf '%s\n' "$imports" | { bad=0; while read -r lib sym; do
    case $lib in
    pd.dll) list=$api ;;
    msvcrt.dll) list=$msvcrt ;;
    *) echo "$name: imports $sym from $lib"; bad=1; continue ;;
    esac
    case " $(echo $list) " in *" $sym "*) ;; *) echo "$name: imports $sym from $lib"; bad=1 ;; esac
done; exit $bad; } || status=1
float=$(printf '%s\n' "$imports" | sed -n 's/^pd\.dll class_new$/32/p; s/^pd\.dll class_new64$/64/p' | sort -u | tr '\n' ' ')
[ "$float" = "$size " ] || fail "imports class_new for float size ${float:-none}, its name says $size"

printf '%s\n' "$headers" | grep -q '^AddressOfEntryPoint[[:space:]]*0*$' || fail "has an entry point"
printf '%s\n' "$headers" | grep -q '^Entry 9 0* 0* Thread Storage Directory' || fail "has a TLS directory"
sections=$("$objdump" -h "$dll" | awk '$1 ~ /^[0-9]+$/ {print $2}')
for s in $sections; do
    case $s in .ctors | .dtors | .CRT* | .tls | .init_array | .fini_array) fail "has a $s section" ;; esac
done

if [ "$want" = pei-i386 ]; then
    x87=$("$objdump" -d --no-show-raw-insn "$dll" | awk '
        /^[0-9a-f]+ <.*>:$/ { fn = $2; gsub(/[<>:]/, "", fn); next }
        /^ *[0-9a-f]+:\t/ && $2 ~ /^f/ && $2 !~ /^(fld[slt]?|fld1|fldz|fstp?[slt]?|fxch|fn?stcw|fldcw|fn?stsw|f?wait|ffree|fn?init|fn?clex)$/ &&
            fn !~ /^_(sin|exp|__sinl_internal|__cosl_internal|__fpclassify[lf]?|__mingw_raise_matherr|_?matherr)$/ { print fn, $2 }' |
        sort -u)
    [ -z "$x87" ] || fail "computes on the x87 stack: $(echo $x87)"
fi
[ $status -eq 0 ] && echo "$name: format, float size, exports and imports as expected"
exit $status
