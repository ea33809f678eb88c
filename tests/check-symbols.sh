#!/bin/sh
# check-symbols.sh NM PLUGIN EXPORT...
# Fails unless PLUGIN defines exactly the EXPORTs as dynamic symbols and needs nothing
# beyond Pd's API and the C library functions the classes use.
nm=$1 plugin=$2
shift 2
allowed_undefined='class_new class_new64 class_addmethod class_domainsignalin pd_new inlet_new outlet_new
gensym dsp_add sys_getsr post s_float s_signal memset memcpy exp sin'
status=0
defined=$("$nm" -D --defined-only "$plugin" | awk '{print $3}' | sed 's/@.*//' | sort)
wanted=$(printf '%s\n' "$@" | grep . | sort)
if [ "$defined" != "$wanted" ]; then
    echo "$plugin exports:"; echo "$defined"; echo "expected:"; echo "$wanted"; status=1
fi
for sym in $("$nm" -D --undefined-only "$plugin" | awk '{print $2}' | sed 's/@.*//'); do
    case " $(echo $allowed_undefined) " in
        *" $sym "*) ;;
        *) echo "$plugin needs $sym, which is neither Pd's API nor the C library's"; status=1 ;;
    esac
done
[ $status -eq 0 ] && echo "$plugin: exports and imports as expected"
exit $status
