# Sourced by check-armv6.sh and check-arm64.sh, which set $readelf and $objdump and define
# fail (marks the plug-in bad) and scan_instructions (reports offending instructions of an
# `objdump -d` listing). check_code PLUGIN: PLUGIN needs no library but the C library and
# its mathematics, has code, and holds no instruction that scan_instructions reports.
check_code() {
    needed=$("$readelf" -dW "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for lib in $needed; do
        case $lib in libc.so.6|libm.so.6) ;; *) fail "needs $lib" ;; esac
    done
    listing=$("$objdump" -d "$1") || { fail "cannot be disassembled"; return; }
    printf '%s\n' "$listing" | grep -q '^Disassembly of section \.text:' || fail "has no code"
    offending=$(printf '%s\n' "$listing" | scan_instructions)
    [ -n "$offending" ] && { printf '%s\n' "$offending" | sed "s|^ *|$1: |"; bad=1; }
}
