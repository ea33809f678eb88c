#!/usr/bin/env python3
"""Compares the code of two builds' plug-ins, routine by routine.

    scripts/compare-disassembly.py BEFORE AFTER

BEFORE and AFTER are staged plug-in folders (build/tavrelle, build-arm/tavrelle, or copies
of them). For every plug-in in both, each routine's instructions are compared with the
addresses taken out (a branch target inside a routine becomes the instruction it reaches,
literal-pool words stay as they are, x86 alignment padding is left out). A routine may be renamed: one that has no namesake on the other side is
paired with the one whose instructions are the same. A routine that differs only in the
names of its registers (renamed throughout, or allocated otherwise) is reported as such; any other difference is shown and makes the
script fail. Refactoring that moves text only must leave every routine the same.
"""
import os
import re
import subprocess
import sys

SUFFIXES = ('.pd_linux', '.l_arm', '.l_arm64', '-64.so')
REGISTER = re.compile(r'\b([rsdqxwv]\d{1,2}|[re]?[abcd]x|[re]?[sd]i|[re]?[sb]p|r\d+[dwb]?|'
                      r'xmm\d+|ymm\d+|ip|lr|fp|sl)\b')


def objdump_for(path):
    kind = subprocess.run(['file', '-bL', path], capture_output=True, text=True).stdout
    if 'ARM aarch64' in kind:
        return 'aarch64-linux-gnu-objdump'
    if 'ARM' in kind:
        return 'arm-linux-gnueabihf-objdump'
    return 'objdump'


def routines(path):
    """{name: [instruction text]}: branch targets inside a routine as the index of the
    instruction they reach, others by name; x86 alignment padding left out."""
    text = subprocess.run([objdump_for(path), '-d', '--no-show-raw-insn', path],
                          capture_output=True, text=True, check=True).stdout
    raw, current = {}, None
    for line in text.splitlines():
        m = re.match(r'([0-9a-f]+) <(.+)>:$', line)
        if m:
            current = m.group(2)
            raw[current] = (int(m.group(1), 16), [])
            continue
        m = re.match(r'\s+([0-9a-f]+):\s+(.*)$', line)
        if m and current is not None:
            insn = re.sub(r'\s+', ' ', m.group(2).strip())
            if not re.match(r'(nop|xchg %ax,%ax|data16|cs nopw)', insn):
                raw[current][1].append((int(m.group(1), 16), insn))
    found = {}
    for name, (start, body) in raw.items():
        index = {a: k for k, (a, _) in enumerate(body)}

        def target(t):
            if t.group(1) != name:
                return '<%s%s>' % (t.group(1), t.group(2) or '')
            at = start + int(t.group(2) or '+0x0', 16)
            return '<.#%s>' % index.get(at, hex(at - start))
        out = []
        for _, insn in body:
            insn = re.sub(r'\b[0-9a-f]+ <([^>+]+)(\+0x[0-9a-f]+)?>', target, insn)
            # pc-relative references: the comment names what is loaded.
            insn = re.sub(r'\[pc, #-?\d+\]', '[pc]', insn)
            insn = re.sub(r'(#|0x)[0-9a-f]+\(%rip\)', '(%rip)', insn)
            out.append(insn)
        found[name] = out
    return found


def without_registers(body):
    """The body with registers named by first appearance (per register file)."""
    names, out = {}, []
    for insn in body:
        def rename(m):
            r = m.group(1)
            if r not in names:
                names[r] = '%s%d' % (r[0] if r[0] in 'sdqxwv' and r[1:].isdigit() else 'R', len(names))
            return names[r]
        out.append(REGISTER.sub(rename, insn))
    return out


def registers_masked(body):
    """The body with every register written as the name of its file only."""
    def mask(m):
        r = m.group(1)
        return (r[0] if r[0] in 'sdqv' and r[1:].isdigit() else 'X' if r.startswith(('xmm', 'ymm')) else 'R')
    return [REGISTER.sub(mask, insn) for insn in body]


def masked(body, names):
    """The body with the given routine names masked, for pairing renamed routines."""
    def mask(m):
        return '<?' + m.group(2) + '>' if m.group(1) in names else m.group(0)
    return [re.sub(r'<([^>+]+)((\+0x[0-9a-f]+)?)>', mask, i) for i in body]


def compare(before, after):
    a, b = routines(before), routines(after)
    renamed = (set(a) - set(b)) | (set(b) - set(a))
    pairs = [(n, n) for n in sorted(set(a) & set(b))]
    left = {n: masked(a[n], renamed) for n in set(a) - set(b)}
    right = {n: masked(b[n], renamed) for n in set(b) - set(a)}
    for n, body in sorted(left.items()):
        match = [m for m, other in right.items() if other == body] or \
            [m for m, other in right.items() if without_registers(other) == without_registers(body)]
        if match:
            pairs.append((n, match[0]))
            del right[match[0]]
        else:
            pairs.append((n, None))
    pairs += [(None, m) for m in sorted(right)]
    same, registers, differ = 0, [], []
    for n, m in pairs:
        if n is None or m is None:
            differ.append('  only %s: %s' % ('after' if n is None else 'before', m or n))
            continue
        x, y = masked(a[n], renamed), masked(b[m], renamed)
        label = n if n == m else '%s -> %s' % (n, m)
        if x == y:
            same += 1
            if n != m:
                registers.append('  renamed: ' + label)
        elif without_registers(x) == without_registers(y):
            registers.append('  registers renamed: %s (%d instructions)' % (label, len(x)))
        elif registers_masked(x) == registers_masked(y):
            registers.append('  registers allocated otherwise, instructions the same: %s (%d)'
                             % (label, len(x)))
        else:
            import difflib
            diff = list(difflib.unified_diff(x, y, n, m or n, n=1, lineterm=''))
            differ.append('  differs: %s\n%s' % (label, '\n'.join('    ' + d for d in diff[:60])))
    return same, registers, differ


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    before, after = sys.argv[1:]
    failed = False
    plugins = sorted(f for f in os.listdir(before) if f.endswith(SUFFIXES))
    for f in plugins:
        if not os.path.exists(os.path.join(after, f)):
            print('%s: missing after' % f)
            failed = True
            continue
        same, registers, differ = compare(os.path.join(before, f), os.path.join(after, f))
        verdict = 'DIFFERS' if differ else ('same but for register names or routine names'
                                            if registers else 'same')
        print('%s: %s (%d routines identical)' % (f, verdict, same))
        for line in registers + differ:
            print(line)
        failed |= bool(differ)
    sys.exit(1 if failed or not plugins else 0)


if __name__ == '__main__':
    main()
