#!/bin/sh
# check-armv6.sh READELF OBJDUMP PLUGIN...
# Fails unless every PLUGIN runs on an ARMv6 core with VFPv2 under the hard-float
# calling convention: its build attributes say so, every instruction in it is an ARM-state
# instruction that ARMv6 and VFPv2 have (nothing of ARMv6K/T2 or ARMv7, no Thumb code,
# no NEON, no VFPv3 forms), and it carries no start files or compiler runtime and needs
# no library but the C library and its mathematics.
readelf=$1 objdump=$2
shift 2
status=0
. "$(dirname "$0")/plugin-checks.sh"

# One line per offending instruction of an `objdump -d` listing: "address: text: reason".
scan_instructions() {
    awk -F '\t' '
    BEGIN {
        cond = "(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?"
        # ARM-state instructions that came with ARMv6K, ARMv6T2, ARMv7 or later.
        later = "^(movw|movt|bfc|bfi|sbfx|ubfx|rbit|mls|sdiv|udiv|ldrexb|ldrexh|ldrexd|" \
                "strexb|strexh|strexd|clrex|dmb|dsb|isb|pli|pldw|yield|wfe|wfi|sev|dbg|" \
                "ldrht|ldrsht|ldrsbt|strht|smc|hvc|eret|crc32[bhw]|crc32c[bhw])" cond "$"
        # What VFPv2 has; every other v-mnemonic is NEON or a later VFP.
        vfp = "^v(abs|add|cmp|cmpe|cvt|cvtr|div|ldm|ldmia|ldmdb|ldr|mla|mls|mov|mrs|msr|" \
              "mul|neg|nmla|nmls|nmul|pop|push|sqrt|stm|stmia|stmdb|str|sub)" cond "$"
        types = "^(f32|f64|32|f64\\.f32|f32\\.f64|[su]32\\.f(32|64)|f(32|64)\\.[su]32)$"
    }
    function report(why) { print addr " " $3 " " $4 ": " why; found = 1 }
    $1 ~ /^ *[0-9a-f]+:$/ && NF >= 3 {
        addr = $1; enc = $2; sub(/ +$/, "", enc); op = $3; args = $4
        if (op ~ /^\./) next                        # literal pool data
        if (length(enc) != 8 || enc !~ /^[0-9a-f]+$/) { report("Thumb encoding"); next }
        if (op ~ /UNDEFINED|UNPREDICTABLE/ || args ~ /UNDEFINED|UNPREDICTABLE/) {
            report("not a valid instruction"); next
        }
        if (op ~ later) { report("not in ARMv6"); next }
        if (op == "nop" && enc ~ /^.320f000$/) { report("ARMv6K hint form of nop"); next }
        if (op !~ /^v/) next
        base = op; type = ""
        if (i = index(op, ".")) { base = substr(op, 1, i - 1); type = substr(op, i + 1) }
        if (base !~ vfp) { report("NEON or later than VFPv2"); next }
        if (type != "" && type !~ types) { report("data type VFPv2 lacks"); next }
        plain = args; gsub(/\[[^]]*\]/, "", plain)  # addressing offsets may hold #
        if (plain ~ /#/ && !(base ~ /^vcmpe?/ && plain ~ /, #0(\.0)?$/)) {
            report("immediate form VFPv2 lacks"); next
        }
        if (args ~ /(^|[^a-z0-9_])d(1[6-9]|2[0-9]|3[01])([^0-9]|$)/) { report("VFPv3 register d16-d31"); next }
        if (args ~ /(^|[^a-z0-9_])q[0-9]+([^0-9]|$)/) { report("NEON register"); next }
        if (type == "f32" && args ~ /(^|[^a-z0-9_])d[0-9]+/) { report("NEON single-precision vector"); next }
        if (type == "" && base ~ /^vmov/ && args ~ /^d[0-9]+, d[0-9]+$/) { report("NEON register move"); next }
    }
    END { exit found }'
}

for plugin; do
    bad=0
    fail() { echo "$plugin: $*"; bad=1; }

    header=$("$readelf" -h "$plugin") || { fail "not an ELF file"; status=1; continue; }
    printf '%s\n' "$header" | grep -q 'Machine: *ARM$' || fail "not built for 32-bit ARM"
    printf '%s\n' "$header" | grep -q 'Flags:.*hard-float ABI' || fail "not the hard-float ABI"

    attrs=$("$readelf" -A "$plugin")
    for want in "Tag_CPU_arch: v6" "Tag_ARM_ISA_use: Yes" "Tag_FP_arch: VFPv2" \
        "Tag_ABI_VFP_args: VFP registers"; do
        printf '%s\n' "$attrs" | grep -qx "  $want" ||
            fail "attribute is not $want ($(printf '%s\n' "$attrs" | grep "${want%%:*}:" | sed 's/^ *//' || true))"
    done
    printf '%s\n' "$attrs" | grep -q 'Tag_THUMB_ISA_use: Thumb-2' && fail "attributes allow Thumb-2"
    printf '%s\n' "$attrs" | grep -q 'Tag_Advanced_SIMD_arch' && fail "attributes allow NEON"
    printf '%s\n' "$attrs" | grep -q 'Tag_MPextension_use\|Tag_DIV_use: Allowed' &&
        fail "attributes allow ARMv7 extensions"

    # Mapping symbols tell ARM code ($a) from Thumb code ($t) and data ($d).
    symbols=$("$readelf" -sW "$plugin" | awk '$1 ~ /:$/ {print $7, $8}')
    printf '%s\n' "$symbols" | grep -q ' \$a' || fail "no mapping symbols, so code can't be told from data"
    printf '%s\n' "$symbols" | grep -q ' \$t' && fail "holds Thumb code"
    runtime=$(printf '%s\n' "$symbols" | awk '$1 != "UND" && $2 ~ /^(__aeabi_|__gnu_|__(u?div|u?mod)[sd]i3$|_init$|_fini$|frame_dummy$|(de)?register_tm_clones$|__do_global_dtors_aux$|__stack_chk_fail_local$)/ {print $2}')
    [ -n "$runtime" ] && fail "holds start-file or compiler-runtime code:" $runtime

    check_code "$plugin"

    [ $bad -eq 0 ] && echo "$plugin: ARMv6, VFPv2, hard-float, ARM state only"
    [ $bad -eq 0 ] || status=1
done
exit $status
