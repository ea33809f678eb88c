#!/bin/sh
# checker_test.sh CHECKER READELF OBJDUMP OBJCOPY SCRATCH GOOD ARMV6_FORMS LATER_FORMS ARMV7
#                 THUMB RUNTIME
# The ARMv6 checker accepts ARMv6/VFPv2 code and rejects what an ARMv6 core can't run,
# both by the build attributes and, where those claim ARMv6, by the instructions alone.
#   GOOD         a plug-in of the ARM build
#   ARMV6_FORMS  ARMv6/VFPv2 instructions in the forms compilers emit, with literal data
#   LATER_FORMS  one instruction per line that ARMv6/VFPv2 lacks, some of them Thumb
#   ARMV7, THUMB the same class as GOOD, built for ARMv7-A in ARM and in Thumb state
#   RUNTIME      ARMv6 code linked with the default start files and compiler runtime
checker=$1 readelf=$2 objdump=$3 objcopy=$4 scratch=$5 good=$6 armv6_forms=$7
later_forms=$8 armv7=$9
shift 9
thumb=$1 runtime=$2
passed=0 failed=0
mkdir -p "$scratch"

check() { sh "$checker" "$readelf" "$objdump" "$@" >"$scratch/out" 2>&1; }
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; sed 's/^/    /' "$scratch/out"; }
expect_accepted() { if check "$2"; then pass "$1"; else fail "$1"; fi; }
# expect_rejected NAME PLUGIN PATTERN...: rejected, with a line matching each PATTERN.
expect_rejected() {
    name=$1 plugin=$2
    shift 2
    if check "$plugin"; then fail "$name (accepted)"; return; fi
    for pattern; do
        grep -q -- "$pattern" "$scratch/out" || { fail "$name (no line matching '$pattern')"; return; }
    done
    pass "$name"
}
# A copy of PLUGIN whose build attributes are those of GOOD, so only its code can betray it.
disguised() {
    copy="$scratch/disguised-$(basename "$1")"
    "$objcopy" --dump-section .ARM.attributes="$scratch/armv6.attributes" "$good" &&
        "$objcopy" --update-section .ARM.attributes="$scratch/armv6.attributes" "$1" "$copy" &&
        echo "$copy"
}
# Instructions (not literal data) in the code sections of PLUGIN.
instruction_count() {
    "$objdump" -d "$1" | awk -F '\t' '$1 ~ /^ *[0-9a-f]+:$/ && NF >= 3 && $3 !~ /^\./' | wc -l
}

expect_accepted "a plug-in of this build is ARMv6/VFPv2" "$good"
expect_accepted "ARMv6/VFPv2 forms and literal data pass" "$armv6_forms"

expect_rejected "an ARMv7-A build is rejected by its attributes and its instructions" "$armv7" \
    "not Tag_CPU_arch: v6" "not Tag_FP_arch: VFPv2" "allow Thumb-2" "movw.*not in ARMv6"
expect_rejected "a Thumb-2 build is rejected" "$thumb" "holds Thumb code" "Thumb encoding"

expect_rejected "start files and compiler runtime linked in are rejected" "$runtime" \
    "compiler-runtime code:.* __aeabi_ldivmod" "compiler-runtime code:.* _init\( \|$\)"

hidden=$(disguised "$armv7")
if check "$hidden"; then
    fail "an ARMv7-A build that claims ARMv6 is rejected for its code (accepted)"
elif grep -q "attribute" "$scratch/out" || ! grep -q "movw.*not in ARMv6" "$scratch/out"; then
    fail "an ARMv7-A build that claims ARMv6 is rejected for its code alone"
else
    pass "an ARMv7-A build that claims ARMv6 is rejected for its code alone"
fi

hidden=$(disguised "$later_forms")
check "$hidden"
total=$(instruction_count "$hidden")
reported=$(grep -c ": [0-9a-f][0-9a-f]*: " "$scratch/out")
others=$(grep -v ": [0-9a-f][0-9a-f]*: " "$scratch/out" | grep -v "holds Thumb code")
if [ "$total" -gt 40 ] && [ "$reported" -eq "$total" ] && [ -z "$others" ] &&
    grep -q "holds Thumb code" "$scratch/out"; then
    pass "every one of the $total later or Thumb instructions is reported"
else
    fail "every one of the $total later or Thumb instructions is reported (got $reported)"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
