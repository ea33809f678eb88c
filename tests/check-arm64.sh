#!/bin/sh
# check-arm64.sh READELF OBJDUMP PLUGIN...
# Fails unless every PLUGIN is 64-bit ARM code that any ARMv8-A core runs and that
# computes as the other builds do: an ELF64 AArch64 file, no fused multiply-add (aarch64
# compilers contract a * b + c into one rounding unless told not to), nothing later than
# ARMv8.0-A (no atomics of ARMv8.1, half-precision arithmetic, dot products or SVE), no
# start files or compiler runtime, and no library but the C library and its mathematics.
readelf=$1 objdump=$2
shift 2
status=0
. "$(dirname "$0")/plugin-checks.sh"

# One line per offending instruction of an `objdump -d` listing: "address: text: reason".
scan_instructions() {
    awk -F '\t' '
    function report(why) { print addr " " $3 " " $4 ": " why; found = 1 }
    $1 ~ /^ *[0-9a-f]+:$/ && NF >= 3 {
        addr = $1; op = $3; args = $4
        if (op ~ /^\./) next
        if (op ~ /^(fn?madd|fn?msub|fmla|fmls|fmlal2?|fmlsl2?|bfmlal[bt])$/) { report("fused multiply-add"); next }
        if (op ~ /^(ld(add|clr|eor|set|smax|smin|umax|umin)|swp|casp?)(a|al|l)?[bh]?$/) { report("ARMv8.1 atomic"); next }
        if (op ~ /^(sqrdml[as]h|[su]dot|usdot|fjcvtzs|frint(32|64)[xz]|fcmla|fcadd|bf(cvtn?2?|dot|mmla))$/) { report("later than ARMv8.0-A"); next }
        if (op ~ /^f/ && args ~ /(^|[^a-z0-9_])h[0-9]+|\.[0-9]*h/) { report("half-precision arithmetic"); next }
        if (args ~ /(^|[^a-z0-9_])(z[0-9]+|p[0-9]+\/[mz])/) { report("SVE"); next }
        if (op ~ /UNDEFINED|undefined/ || args ~ /UNDEFINED|undefined/) report("not a valid instruction")
    }
    END { exit found }'
}

for plugin; do
    bad=0
    fail() { echo "$plugin: $*"; bad=1; }

    header=$("$readelf" -h "$plugin") || { fail "not an ELF file"; status=1; continue; }
    printf '%s\n' "$header" | grep -q 'Class: *ELF64' || fail "not a 64-bit ELF file"
    printf '%s\n' "$header" | grep -q 'Machine: *AArch64' || fail "not built for 64-bit ARM"

    runtime=$("$readelf" -sW "$plugin" | awk '$1 ~ /:$/ && $7 != "UND" {print $8}' |
        grep -E '^(__aarch64_|__gnu_|_init$|_fini$|frame_dummy$|(de)?register_tm_clones$|__do_global_dtors_aux$|__stack_chk_fail_local$)' | tr '\n' ' ')
    [ -n "$runtime" ] && fail "holds start-file or compiler-runtime code: $runtime"

    check_code "$plugin"

    [ $bad -eq 0 ] && echo "$plugin: AArch64, ARMv8.0-A, no fused multiply-add"
    [ $bad -eq 0 ] || status=1
done
exit $status
