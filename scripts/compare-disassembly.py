#!/usr/bin/env python3
"""Compares the code of two builds' plug-ins, routine by routine.

    scripts/compare-disassembly.py BEFORE AFTER

BEFORE and AFTER are staged plug-in folders (build/tavrelle, build-arm/tavrelle, or copies
of them). For every plug-in in both, each routine's instructions are compared with the
addresses taken out (branch targets become offsets into their routine, literal-pool words
stay as they are). A routine may be renamed: one that has no namesake on the other side is
paired with the one whose instructions are the same. A routine that differs only in the
names of its registers is reported as such; any other difference is shown and makes the
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
    """{name: [instruction text]} with addresses replaced by offsets into the routine."""
    text = subprocess.run([objdump_for(path), '-d', '--no-show-raw-insn', path],
                          capture_output=True, text=True, check=True).stdout
    found, current, start = {}, None, 0
    for line in text.splitlines():
        m = re.match(r'([0-9a-f]+) <(.+)>:$', line)
        if m:
            current, start = m.group(2), int(m.group(1), 16)
            found[current] = []
            continue
        m = re.match(r'\s+([0-9a-f]+):\s+(.*)$', line)
        if not m or current is None:
            continue
        insn = m.group(2).strip()
        # A target inside the routine as its offset; one outside by its name.
        insn = re.sub(r'\b[0-9a-f]+ <([^>+]+)(\+0x[0-9a-f]+)?>',
                      lambda t: '<%s%s>' % ('.' if t.group(1) == current else t.group(1),
                                            t.group(2) or ''), insn)
        insn = re.sub(r'\s+', ' ', insn)
        # pc-relative references: the comment names what is loaded.
        insn = re.sub(r'\[pc, #-?\d+\]', '[pc]', insn)
        insn = re.sub(r'(#|0x)[0-9a-f]+\(%rip\)', '(%rip)', insn)
        found[current].append(insn)
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
            registers.append('  registers only: %s (%d instructions)' % (label, len(x)))
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
