#!/usr/bin/env python3
"""The cost of every class: `make bench` runs this and writes docs/BENCHMARKS.md.

Measures, for each class the build holds (bench/table.cpp has its row):
  - time per sample from Google Benchmark through the test host (build/bench/tavrelle_bench),
    and the time while the state decays into silence against steady loud input;
  - instructions per sample under callgrind (build/bench/tavrelle_count);
  - for the ARMv6 build (build-arm), instructions per sample under qemu-arm with an
    instruction-counting QEMU plug-in, and a model estimate of ARM1176 cycles per sample
    from the disassembly of the perform routine's inner loop;
  - inside Pure Data, the CPU time of 100 instances for 60 s of audio in batch mode,
    beside the same work patched from vanilla objects, measured in the same run.

--smoke runs every step once on a tiny setting (CI) and writes build/bench/BENCHMARKS.md.
"""
import argparse
import importlib.util
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RATE = 44100
ARM_HZ = 700e6
ARM_CYCLES_PER_SAMPLE = ARM_HZ / RATE  # 15,873
# As the ARM build runs its programs: the armhf multiarch runtime where it is installed,
# otherwise the cross compiler's.
QEMU = ['qemu-arm'] if os.path.exists('/lib/ld-linux-armhf.so.3') else [
    'qemu-arm', '-L', '/usr/arm-linux-gnueabihf']


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


# ---- the table --------------------------------------------------------------------

def load_table(build):
    out = run([os.path.join(build, 'bench', 'tavrelle_count'), '--table']).stdout
    return json.loads(out)


# ---- Google Benchmark -------------------------------------------------------------

def google_benchmark(build, smoke):
    exe = os.path.join(build, 'bench', 'tavrelle_bench')
    with tempfile.NamedTemporaryFile(suffix='.json') as out:
        cmd = [exe, '--benchmark_out=' + out.name, '--benchmark_out_format=json',
               '--benchmark_format=console']
        if smoke:
            cmd += ['--benchmark_min_time=0.001', '--decay_seconds=0.05']
        else:
            cmd += ['--benchmark_min_time=0.5', '--benchmark_repetitions=5',
                    '--benchmark_enable_random_interleaving=true']
        log('timing with Google Benchmark:', ' '.join(cmd[1:]))
        subprocess.run(cmd, check=True, stdout=sys.stderr)
        data = json.load(open(out.name))
    # The least disturbed repetition of each benchmark: the machine may be busy.
    best = {}
    for b in data['benchmarks']:
        if b.get('run_type') != 'iteration':
            continue
        name = b['run_name'] if 'run_name' in b else b['name']
        name = name.replace('/manual_time', '')
        scale = {'ns': 1.0, 'us': 1e3, 'ms': 1e6, 's': 1e9}[b['time_unit']]
        if '/block:' in name:
            ns = b['cpu_time'] * scale / b['block']
            flags = None
        else:  # manual time: thread CPU time of the timed stretch
            ns = b['real_time'] * scale / b['samples']
            flags = b['subnormal_flags']
        if name not in best or ns < best[name][0]:
            best[name] = (ns, flags)
    return best, data['context']


# ---- subnormal flags over whole decays --------------------------------------------

DENORMAL_CASES = [(8000, 64), (8000, 4096), (96000, 64), (96000, 4096)]


def denormal_flags(prefix, count, rows, smoke):
    """Per class and case: whether one second of full-scale noise and the silence after it
    (20 s of audio), with the FPU's flushing off, raised a subnormal flag."""
    flags = {}
    for r in rows:
        for rate, n in DENORMAL_CASES:
            out = run(prefix + [count, '--denormals', r['class'], str(rate), str(n),
                                '0.05' if smoke else '20']).stdout
            flags[(r['class'], rate, n)] = int(re.search(r'subnormal_flags (\d)', out).group(1))
    return flags


# ---- callgrind --------------------------------------------------------------------

def callgrind(build, cls, n, smoke):
    blocks = (4 if smoke else 689) * (64 // n)
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, 'cg.out')
        run(['valgrind', '--tool=callgrind', '--callgrind-out-file=' + out,
             '--instr-atstart=no', '--toggle-collect=*_perform*',
             os.path.join(build, 'bench', 'tavrelle_count'), cls, str(n), str(blocks)])
        totals = [l for l in open(out) if l.startswith('totals:')]
        return int(totals[0].split()[1]) / (blocks * n)


# ---- ARM: qemu instruction counts and the VFP11 model -----------------------------

class Arm:
    def __init__(self, build_arm, tools, workdir):
        self.count = os.path.join(build_arm, 'bench', 'tavrelle_count')
        self.model = os.path.join(tools, 'vfp11-model.py')
        source = os.path.join(tools, 'qemu-icount', 'icount.c')
        self.workdir = workdir
        self.plugin = os.path.join(workdir, 'libicount.so')
        run(['gcc', '-shared', '-fPIC', '-O2', '-o', self.plugin, source])
        self.objdump = 'arm-linux-gnueabihf-objdump'

    def qemu(self, cls, n, blocks, lo=None, hi=None):
        cmd = list(QEMU)
        if lo is not None:
            cmd += ['-plugin', '%s,lo=0x%x,hi=0x%x' % (self.plugin, lo, hi), '-d', 'plugin']
        cmd += [self.count, cls, str(n), str(blocks)]
        p = run(cmd)
        where = re.search(r'plugin (\S+) base 0x([0-9a-f]+) perform 0x([0-9a-f]+)', p.stdout)
        counted = re.search(r'in \[0x[0-9a-f]+,0x[0-9a-f]+\) (\d+)', p.stdout + p.stderr)
        return (where.group(1), int(where.group(2), 16), int(where.group(3), 16),
                int(counted.group(1)) if counted else None)

    def measure(self, cls, n, smoke):
        blocks = (4 if smoke else 345) * (64 // n)
        path, base, perform, _ = self.qemu(cls, n, blocks)
        code = Disassembly(self.objdump, path, self.workdir)
        text_lo, text_hi = code.text
        fn = code.routine_at(perform - base)

        def per_sample(lo, hi):
            counts = []
            for b in (blocks, 2 * blocks):
                p, b0, _, c = self.qemu(cls, n, b, base + lo, base + hi)
                if b0 != base:
                    raise RuntimeError('qemu loaded %s at another address' % path)
                counts.append(c)
            return (counts[1] - counts[0]) / (blocks * n)

        instructions = per_sample(text_lo, text_hi)
        # The innermost loop that runs the most instructions: a perform routine may hold
        # others (a sample-by-sample tail, a rare careful path) that run seldom or never.
        runs = [(per_sample(l[2], l[2] + 4), l) for l in code.inner_loops(fn)]
        passes, loop = max(runs, key=lambda r: r[0] * code.count(r[1]))
        body = code.count(loop)
        model = float(re.search(r'model: ([0-9.]+) cycles', run(
            [sys.executable, self.model, code.file, '%x' % loop[0], '%x' % loop[1]]).stdout).group(1))
        outside = max(0.0, instructions - body * passes)
        return {'instructions': instructions, 'passes': passes, 'body': body,
                'model': model, 'cycles': model * passes + outside,
                'whole': self.whole_call(cls, n, base, perform, path, code),
                'routine': fn[2], 'loop': loop}

    def whole_call(self, cls, n, base, perform, path, code):
        """Model cycles per sample of everything one perform call executes, its loops, the
        code around them and the routines it calls: the plug-in's translation blocks as
        qemu-arm runs them (logged one by one), one call's instructions in their order
        through the model as one body, calls back to back."""
        log = os.path.join(self.workdir, 'exec.log')
        lo, hi = base + code.text[0], base + code.text[1]
        self.qemu_logged(cls, n, max(3, 192 // n), log, lo, hi)
        pcs = []
        with open(log) as f:
            for line in f:
                if line.startswith('Trace'):
                    pc = int(line.split('[')[1].split('/')[1], 16)
                    if lo <= pc < hi:
                        pcs.append(pc - base)
        os.remove(log)
        at = {a: k for k, (a, _, _) in enumerate(code.insns)}
        def block(start):  # a translation block ends with its first branch or write to pc,
            k, out = at[start], []  # or at the end of a page (the plug-in starts on one)
            while k < len(code.insns):
                a, op, args = code.insns[k]
                out.append(code.insns[k])
                k += 1
                if (a + 4) % 4096 == 0 or (op.startswith('b') and not op.startswith('bic')) or \
                        re.match(r'(pc\b|\{.*\bpc\b)', args) or re.search(r'\bpc\}', args):
                    break
            return out
        calls = [i for i, pc in enumerate(pcs) if pc == perform - base]
        body = sum((block(pc) for pc in pcs[calls[-3]:calls[-2]]), [])
        spec = importlib.util.spec_from_file_location('vfp11', self.model)
        vfp11 = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(vfp11)
        return vfp11.simulate(body, iters=3) / n

    def qemu_logged(self, cls, n, blocks, log, lo, hi):
        run(list(QEMU[:1]) + ['-d', 'exec,nochain', '-dfilter', '0x%x..0x%x' % (lo, hi - 1),
                              '-D', log] + list(QEMU[1:]) + [self.count, cls, str(n), str(blocks)])


class Disassembly:
    """A plug-in's disassembly: its routines, and the inner loop of a perform routine."""

    def __init__(self, objdump, path, workdir):
        self.file = os.path.join(workdir, os.path.basename(path) + '.dis')
        text = run([objdump, '-d', '--no-show-raw-insn', path]).stdout
        open(self.file, 'w').write(text)
        self.insns = []    # (address, mnemonic, operands)
        self.routines = []  # (start, end, name)
        for line in text.splitlines():
            m = re.match(r'([0-9a-f]+) <(.+)>:$', line)
            if m:
                self.routines.append([int(m.group(1), 16), None, m.group(2)])
                continue
            m = re.match(r'\s+([0-9a-f]+):\s+(\S+)\s*(.*)$', line)
            if m and not m.group(2).startswith('.'):
                self.insns.append((int(m.group(1), 16), m.group(2), m.group(3)))
        for i, r in enumerate(self.routines):
            r[1] = self.routines[i + 1][0] if i + 1 < len(self.routines) else self.insns[-1][0] + 4
        sections = run(['arm-linux-gnueabihf-readelf', '-SW', path]).stdout
        m = re.search(r'\.text\s+PROGBITS\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)', sections)
        self.text = (int(m.group(1), 16), int(m.group(1), 16) + int(m.group(2), 16))

    def routine_at(self, address):
        for r in self.routines:
            if r[0] <= address < r[1]:
                return r
        raise RuntimeError('no routine at 0x%x' % address)

    def body(self, r):
        return [i for i in self.insns if r[0] <= i[0] < r[1]]

    def count(self, loop):
        return len([i for i in self.insns if loop[0] <= i[0] <= loop[1]])

    def inner_loops(self, routine):
        """[(first, last, counted)]: the innermost loops of the routine and of the routines
        it branches to, each with the address whose executions count its passes (the
        backward branch: a loop may be entered in its middle), and the routine itself as
        one body counted at its entry (a one-sample form has no loop)."""
        seen, todo, loops = set(), [routine], []
        while todo:
            r = todo.pop()
            if r[0] in seen:
                continue
            seen.add(r[0])
            for a, op, args in self.body(r):
                m = re.match(r'([0-9a-f]+) <', args)
                if not m or not op.startswith('b') or op.startswith(('bic', 'bx')):
                    continue
                target = int(m.group(1), 16)
                if not r[0] <= target < r[1]:  # a call or a tail call, conditional or not
                    todo.append(self.routine_at(target))
                elif op != 'bl' and target <= a:  # a loop may close with a plain b
                    loops.append((target, a))
        inner = [l for l in loops if not any(o != l and l[0] <= o[0] and o[1] <= l[1] for o in loops)]
        return [(first, last, last) for first, last in inner] + [
            (routine[0], self.body(routine)[-1][0], routine[0])]


# ---- Pure Data ------------------------------------------------------------------

class Patch:
    """A patch in Pd's file format, built object by object."""

    def __init__(self):
        self.lines, self.count = [], 0

    def obj(self, text, x=20, y=20, kind='obj'):
        self.lines.append('#X %s %d %d %s;' % (kind, x, y, text))
        self.count += 1
        return self.count - 1

    def connect(self, a, outlet, b, inlet):
        self.lines.append('#X connect %d %d %d %d;' % (a, outlet, b, inlet))

    def text(self):
        return '#N canvas 0 0 900 600 12;\n' + '\n'.join(self.lines) + '\n'


def ms(samples):
    return '%.6f' % (1000.0 * samples / RATE)


def vanilla_abstraction(kind, delays):
    """The work of one class as an abstraction of vanilla objects (no guards): the comb
    banks and diffusers from delwrite~/delread~, lop~ and arithmetic, the phase-difference
    network from biquad~ sections (an allpass in the square of the unit delay) and
    rzero_rev~ 0 as the one-sample delay."""
    p = Patch()
    src = p.obj('inlet~')
    if kind in ('damped-comb', 'plain-comb'):
        x = p.obj('*~ 0.015', y=50)
        taps = []
        for k, length in enumerate(delays):
            col = 20 + 110 * k
            d = p.obj('delread~ $0-c%d %s' % (k, ms(length)), col, 90)
            tap = d
            if kind == 'damped-comb':
                tap = p.obj('lop~ 3860', col, 120)  # weight 0.55 on the delayed value
                p.connect(d, 0, tap, 0)
            fb = p.obj('*~ 0.84', col, 150)
            add = p.obj('+~', col, 180)
            w = p.obj('delwrite~ $0-c%d %s' % (k, ms(length)), col, 210)
            p.connect(tap, 0, fb, 0)
            p.connect(x, 0, add, 0)
            p.connect(fb, 0, add, 1)
            p.connect(add, 0, w, 0)
            taps.append(tap)
        p.connect(src, 0, x, 0)
        total = taps[0]
        for tap in taps[1:]:
            s = p.obj('+~', 20, 260)
            p.connect(total, 0, s, 0)
            p.connect(tap, 0, s, 1)
            total = s
        out = p.obj('outlet~', 20, 300)
        p.connect(total, 0, out, 0)
    elif kind == 'diffuser':
        u = src
        for k, length in enumerate(delays):
            col = 20 + 150 * k
            d = p.obj('delread~ $0-a%d %s' % (k, ms(length)), col, 60)
            y = p.obj('-~', col, 90)
            half = p.obj('*~ 0.5', col + 60, 90)
            add = p.obj('+~', col + 60, 120)
            w = p.obj('delwrite~ $0-a%d %s' % (k, ms(length)), col + 60, 150)
            p.connect(d, 0, y, 0)
            p.connect(u, 0, y, 1)
            p.connect(d, 0, half, 0)
            p.connect(u, 0, add, 0)
            p.connect(half, 0, add, 1)
            p.connect(add, 0, w, 0)
            u = y
        out = p.obj('outlet~', 20, 200)
        p.connect(u, 0, out, 0)
    elif kind in ('analytic-pair', 'amplitude'):
        chains = []
        late = p.obj('rzero_rev~ 0', 200, 50)
        p.connect(src, 0, late, 0)
        for col, head, coefs in ((20, src, (0.161758, 0.733029, 0.94535, 0.990598)),
                                 (200, late, (0.479401, 0.876218, 0.976599, 0.9975))):
            s = head
            for k, c in enumerate(coefs):
                b = p.obj('biquad~ 0 %g %g 0 -1' % (c, c), col, 80 + 30 * k)
                p.connect(s, 0, b, 0)
                s = b
            chains.append(s)
        if kind == 'analytic-pair':
            for k, s in enumerate(chains):
                o = p.obj('outlet~', 20 + 180 * k, 220)
                p.connect(s, 0, o, 0)
        else:
            sq = []
            for k, s in enumerate(chains):
                m = p.obj('*~', 20 + 180 * k, 220)
                p.connect(s, 0, m, 0)
                p.connect(s, 0, m, 1)
                sq.append(m)
            add = p.obj('+~', 20, 250)
            p.connect(sq[1], 0, add, 0)
            p.connect(sq[0], 0, add, 1)
            root = p.obj('sqrt~', 20, 280)
            scale = p.obj('*~ 0.70710677', 20, 310)
            out = p.obj('outlet~', 20, 340)
            p.connect(add, 0, root, 0)
            p.connect(root, 0, scale, 0)
            p.connect(scale, 0, out, 0)
    else:
        raise ValueError(kind)
    return p.text()


def instances_patch(unit, count, settings='', freq=False):
    """`count` copies of `unit` (an object text) fed one noise source, for 60 s of audio
    (or the given length), then quit. `freq` feeds a shared 2 kHz signal to inlet 1."""
    def make(seconds):
        p = Patch()
        lb = p.obj('loadbang')
        t = p.obj('t b b', 20, 50)
        on = p.obj('\\; pd dsp 1', 20, 80, 'msg')
        stop = p.obj('delay %d' % int(seconds * 1000), 120, 80)
        quit_ = p.obj('\\; pd quit', 120, 110, 'msg')
        noise = p.obj('noise~', 20, 140)
        level = p.obj('*~ 0.3', 20, 170)
        p.connect(lb, 0, t, 0)
        p.connect(t, 0, on, 0)
        p.connect(t, 0, stop, 0)
        p.connect(stop, 0, quit_, 0)
        p.connect(noise, 0, level, 0)
        if unit:
            msg = p.obj(settings, 300, 140, 'msg') if settings else None
            if msg is not None:
                p.connect(t, 1, msg, 0)
            f = p.obj('sig~ 2000', 200, 140) if freq else None
            for i in range(count):
                o = p.obj(unit, 20 + 90 * (i % 10), 220 + 30 * (i // 10))
                p.connect(level, 0, o, 0)
                if msg is not None:
                    p.connect(msg, 0, o, 0)
                if f is not None:
                    p.connect(f, 0, o, 1)
        return p.text()
    return make


def pd_seconds(dir, patch, stage):
    """CPU seconds (user + system) of one pd -batch run of the patch."""
    log_path = os.path.join(dir, patch + '.log')
    with open(log_path, 'w') as console:
        p = subprocess.Popen(['pd', '-nogui', '-noaudio', '-batch', '-noprefs', '-stderr',
                              '-r', str(RATE), '-path', stage, '-open', patch],
                             cwd=dir, stdout=console, stderr=console)
        _, status, usage = os.wait4(p.pid, 0)
    text = open(log_path).read()
    if status != 0 or "couldn't create" in text or re.search(r'^error:', text, re.M):
        raise RuntimeError('pd failed on %s:\n%s' % (patch, text))
    return usage.ru_utime + usage.ru_stime


def pure_data(rows, stage, smoke):
    count, seconds, rounds = (2, 0.5, 1) if smoke else (100, 60.0, 3)
    results = {}
    with tempfile.TemporaryDirectory() as d:
        patches = {'baseline': instances_patch(None, 0)}
        for r in rows:
            cls = r['class']
            settings = ' \\, '.join('%s %g' % (s, v) for s, v in r['settings'])
            patches[cls] = instances_patch(cls, count, settings)
            for kind in r['vanilla']:
                name = '%s|%s' % (cls, kind)
                if kind in ('lop~', 'vcf~'):
                    unit = 'lop~ 5000' if kind == 'lop~' else 'vcf~ 1'
                    patches[name] = instances_patch(unit, count, freq=kind == 'vcf~')
                else:
                    abstraction = 'vanilla-%s-%s' % (kind, cls.replace('~', ''))
                    with open(os.path.join(d, abstraction + '.pd'), 'w') as f:
                        f.write(vanilla_abstraction(kind, r['delays']))
                    patches[name] = instances_patch(abstraction, count)
        files = {}
        for i, (name, make) in enumerate(patches.items()):
            files[name] = 'p%d.pd' % i
            with open(os.path.join(d, files[name]), 'w') as f:
                f.write(make(seconds))
        times = {name: [] for name in patches}
        for k in range(rounds):
            for name in patches:  # one round measures everything, so ratios share a moment
                log('pd round %d/%d: %s' % (k + 1, rounds, name))
                times[name].append(pd_seconds(d, files[name], stage))
        base = statistics.median(times['baseline'])
        for name, t in times.items():
            if name != 'baseline':
                results[name] = max(0.0, statistics.median(t) - base) / (count * seconds)
    return results, (count, seconds, rounds)


# ---- the report -------------------------------------------------------------------

def machine():
    cpu = platform.processor()
    try:
        for line in open('/proc/cpuinfo'):
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    except OSError:
        pass
    gcc = run(['g++', '--version']).stdout.splitlines()[0]
    try:
        pd = run(['pd', '-version']).stdout.strip() or run(['pd', '-version']).stderr.strip()
    except subprocess.CalledProcessError:
        pd = 'pd'
    return cpu, os.cpu_count(), platform.platform(), gcc, pd


def table_head(w, *columns):
    """A Markdown table's two head lines; the first column is text, the rest numbers
    unless named with a trailing '<' (text) or '^' (centred)."""
    names = [c.rstrip('<^') for c in columns]
    align = ['---'] + [':---:' if c.endswith('^') else '---' if c.endswith('<') else '---:'
                       for c in columns[1:]]
    w('| ' + ' | '.join(names) + ' |')
    w('|' + '|'.join(align) + '|')


def fmt(v, digits=1):
    return '—' if v is None else ('{:,.%df}' % digits).format(v)


def real_boards(w):
    """Figures board owners measured with the self-test, kept in bench/boards.json: a list
    of {"board", "system", "pd", "command", "output"}, output being the self-test's lines."""
    w('## Measured on real boards')
    w('')
    w('What the self-test (`tavrelle-selftest.pd`, see the README) printed on real boards, as '
      'their owners sent it: the timing table is each class\'s CPU time per instance as a '
      'share of one core at 44.1 kHz, 32 instances at once, in the Pd named.')
    w('')
    with open(os.path.join(ROOT, 'bench', 'boards.json')) as f:
        boards = json.load(f)
    if not boards:
        w('None reported yet.')
    for b in boards:
        w('### %s, %s, %s' % (b['board'], b['system'], b['pd']))
        w('')
        w('```sh\n%s\n```\n\n```\n%s\n```' % (b['command'], b['output'].strip()))
    w('')


def denormal_section(w, rows, denormals, smoke):
    w('')
    w('Over the whole decay, at the rates and block sizes where a state decays furthest '
      'inside one block: one second of full-scale noise, then %s of silence, with the '
      'FPU\'s flushing off (as the test host and any host built without fast-math run; Pd '
      'itself flushes). 0: no floating-point operation raised a subnormal flag (x86-64: '
      'underflow or denormal operand in the MXCSR; the ARM build under qemu-arm: the '
      'FPSCR\'s cumulative UFC or IDC); **1**: one did.' % ('a short stretch' if smoke else '20 s'))
    w('')
    cols = ['%s kHz, %d' % (('%g' % (rate / 1000.0)), n) for rate, n in DENORMAL_CASES]
    platforms = [p for p in ('x86-64', 'ARM') if p in denormals]
    table_head(w, 'Class', *['%s: %s' % (p, c) for p in platforms for c in cols])
    for r in rows:
        cells = []
        for p in platforms:
            for rate, n in DENORMAL_CASES:
                v = denormals[p].get((r['class'], rate, n))
                cells.append('—' if v is None else ('**1**' if v else '0'))
        w('| `%s` | %s |' % (r['class'], ' | '.join(cells)))


def report(rows, gbench, context, counts, arm, pd, pd_setting, smoke, baseline=None, denormals=None):
    cpu, cores, system, gcc, pdver = machine()
    out = []
    w = out.append
    w('# Benchmarks')
    w('')
    w('Generated by `make bench` (bench/run.py) on %s.' % datetime.date.today().isoformat())
    if smoke:
        w('')
        w('**Smoke run** (`make bench-smoke`): every step ran once on a tiny setting; the '
          'figures show that the benchmark works, not what the classes cost.')
    w('')
    w('Machine: %s, %d cores; %s; %s; %s. Load average at the start of the timing: %s.'
      % (cpu, cores, system, gcc, pdver,
         ', '.join('%.2f' % v for v in context.get('load_avg', [])) or 'unknown'))
    w('')
    w('## Cost per sample on this machine')
    w('')
    w('Google Benchmark drives each perform routine through the test host, which loads '
      'the plug-in as Pd does, at block size 64 (and 1 for the two quadrature classes), '
      'on warm state with the settings and input of bench/table.cpp; time is CPU time, '
      'the best of five repetitions. Instances per core: how many objects one core could '
      'run in real time at 44.1 kHz. Instructions come from callgrind (perform routine '
      'only, deterministic). The floating-point operations are what the algorithm itself '
      'performs per sample (see the notes), a floor for any implementation.')
    w('')
    table_head(w, 'Class', 'Block', 'ns/sample', 'Instances per core', 'Instructions/sample',
               'FP ops/sample', 'Ratio')
    for r in rows:
        for n in r['blocks']:
            ns = gbench.get('%s/block:%d' % (r['class'], n), (None,))[0]
            inst = counts.get((r['class'], n))
            w('| `%s` | %d | %s | %s | %s | %d | %s |' % (
                r['class'], n, fmt(ns, 2), fmt(1e9 / (ns * RATE), 0) if ns else '—',
                fmt(inst), r['fp_ops'], fmt(inst / r['fp_ops'], 2) if inst else '—'))
    w('')
    w('## Denormals')
    w('')
    w('After one second of full-scale noise, a timed stretch of %s of audio at block size '
      '64: more noise (loud), or silence while the state decays (decay). Twenty seconds '
      'take a comb bank at feedback 0.84 from full scale below the smallest normal float '
      'had the input offset not kept it there. Flags: whether any floating-point operation '
      'in the whole stretch, from the loud input to settled silence, raised the underflow '
      'or the denormal-operand flag (0: no subnormal number was produced or consumed).' % ('a short stretch' if smoke else '20 s'))
    w('')
    table_head(w, 'Class', 'Loud ns/sample', 'Decay ns/sample', 'Decay / loud', 'Subnormal flags',
               'Within 10 %^')
    for r in rows:
        loud = gbench.get(r['class'] + '/loud')
        dec = gbench.get(r['class'] + '/decay')
        if not loud or not dec:
            continue
        ratio = dec[0] / loud[0]
        w('| `%s` | %s | %s | %.3f | %d / %d | %s |' % (
            r['class'], fmt(loud[0], 2), fmt(dec[0], 2), ratio, loud[1], dec[1],
            'yes' if ratio <= 1.10 else 'no'))
    if denormals:
        denormal_section(w, rows, denormals, smoke)
    w('')
    w('## ARMv6 build (ARM1176, VFP11)')
    w('')
    if arm is None or isinstance(arm, str):
        w('Not measured: %s.' % (arm or 'no ARM build'))
    else:
        w('The plug-ins of the ARM build (build-arm) under qemu-arm: executed instructions '
          'per sample counted by a QEMU plug-in over the plug-in\'s code (the difference of '
          'two runs of different length, so loading and warming cancel out). Cycles per '
          'sample are a **model estimate**, not a measurement: the inner loop of the perform '
          'routine through the in-order VFP11 model (vfp11-model.py; no cache misses, '
          'RunFast), times the loop\'s passes per sample, plus one cycle per instruction '
          'outside the loop. The floor is a lower bound for ordinary code on this '
          'single-issue core: the larger of the instructions the algorithm and its tests '
          'need and the longest dependency chain the block shape forces (at block size 1, '
          'one sample from input to outlet; see the notes). The whole call: everything one '
          'call of the perform routine executes (its loops, the code around them and the '
          'routines it calls), in the order qemu-arm runs it, through the same model as one '
          'body; that counts the waits outside the inner loop too. Share: of one 700 MHz '
          'core at 44.1 kHz (15,873 cycles per sample), by the whole call.')
        w('')
        table_head(w, 'Class', 'Block', 'Instructions/sample', 'FP ops',
                   'Loop (instructions, passes/sample)', 'Model cycles/sample (estimate)',
                   'Floor', 'Model / floor', 'Whole call, model (estimate)', 'Share of 700 MHz core')
        for r in rows:
            for n in r['blocks']:
                a = arm.get((r['class'], n))
                if not a:
                    continue
                floor = r['arm_floor_one'] if n == 1 and r['arm_floor_one'] else r['arm_floor']
                w('| `%s` | %d | %s | %d | %d, %.3f | %s | %d | %.2f | %s | %.2f %% |' % (
                    r['class'], n, fmt(a['instructions']), r['fp_ops'], a['body'], a['passes'],
                    fmt(a['cycles']), floor, a['cycles'] / floor, fmt(a['whole']),
                    100.0 * a['whole'] / ARM_CYCLES_PER_SAMPLE))
    w('')
    w('## Inside Pure Data')
    w('')
    count, seconds, rounds = pd_setting
    if not count:
        w('Not measured in this run (--skip-pd).')
    else:
        w('%d instances of the class fed one noise source, rendered for %g s of audio in '
          '`pd -nogui -noaudio -batch`; the CPU time of the run, less that of the same patch '
          'without the instances, as a share of one core per instance (the median of %d '
          'rounds). Beside it, the same patch with the class replaced by the same work built '
          'from vanilla objects, run in the same rounds so the ratio holds on a busy machine. '
          '`damp~` is set beside `lop~` and `vcf~` as yardsticks, not equivalents.'
          % (count, seconds, rounds))
        w('')
        table_head(w, 'Class', 'Share per instance', 'Vanilla patch<', 'Share per instance',
                   'Vanilla / class')
        for r in rows:
            share = pd.get(r['class'])
            kinds = r['vanilla'] or [None]
            for kind in kinds:
                v = pd.get('%s|%s' % (r['class'], kind)) if kind else None
                w('| `%s` | %s %% | %s | %s | %s |' % (
                    r['class'], fmt(100 * share, 3) if share is not None else '—',
                    kind or 'none that vanilla objects can patch', fmt(100 * v, 3) + ' %' if v is not None else '—',
                    fmt(v / share, 1) if v is not None and share else '—'))
    if baseline:
        w('')
        w('## Before and after')
        w('')
        w('%s Instruction counts and the model estimate are deterministic, so they compare '
          'across machines; times are this machine\'s and only compare within one session.'
          % baseline['label'])
        w('')
        table_head(w, 'Class', 'Block', 'x86-64 instructions/sample', 'ARM instructions/sample',
                   'Model cycles/sample (estimate)')
        for r in rows:
            for n in r['blocks']:
                key = '%s/%d' % (r['class'], n)
                then = baseline['counts'].get(key)
                now = counts.get((r['class'], n))
                arm_then = baseline['arm'].get(key, {})
                arm_now = arm.get((r['class'], n), {}) if isinstance(arm, dict) else {}
                pair = lambda a, b: '%s → %s' % (fmt(a), fmt(b)) if a is not None and b is not None else '—'
                w('| `%s` | %d | %s | %s | %s |' % (
                    r['class'], n, pair(then, now),
                    pair(arm_then.get('instructions'), arm_now.get('instructions')),
                    pair(arm_then.get('cycles'), arm_now.get('cycles'))))
    w('')
    real_boards(w)
    w('## Notes: the floors')
    w('')
    for r in rows:
        if r['class'].endswith('L~'):
            continue  # the same as the right channel
        w('- `%s`%s: %d FP ops (%s). ARM floor %d cycles: %s.%s' % (
            r['class'], ' (and the left channel)' if r['class'].endswith('R~') else '',
            r['fp_ops'], r['fp_ops_why'], r['arm_floor'], r['arm_floor_why'],
            ' At block size 1, %d cycles: %s.' % (r['arm_floor_one'], r['arm_floor_one_why'])
            if r['arm_floor_one'] else ''))
    return '\n'.join(out) + '\n'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--smoke', action='store_true')
    ap.add_argument('--build', default=os.path.join(ROOT, 'build'))
    ap.add_argument('--arm-build', default=os.path.join(ROOT, 'build-arm'))
    ap.add_argument('--tools', default=os.environ.get(
        'TAVRELLE_TOOLS', os.path.join(ROOT, '..', 'shared', 'tools')))
    ap.add_argument('--out')
    ap.add_argument('--skip-pd', action='store_true', help='leave out the runs inside Pd')
    ap.add_argument('--baseline', default=os.path.join(ROOT, 'bench', 'baseline.json'),
                    help='counts of an earlier version to set beside these')
    ap.add_argument('--denormals-only', action='store_true',
                    help='only the subnormal-flag checks, spliced into the existing report')
    ap.add_argument('--counts-only', metavar='JSON',
                    help='only the deterministic figures (callgrind and qemu-arm instruction '
                    'counts, model cycles), written to JSON, for comparing two builds')
    args = ap.parse_args()
    out = args.out or (os.path.join(args.build, 'bench', 'BENCHMARKS.md') if args.smoke
                       else os.path.join(ROOT, 'docs', 'BENCHMARKS.md'))

    rows = load_table(args.build)
    if args.denormals_only:
        return splice_denormals(args, rows, out)
    if args.counts_only:
        return counts_only(args, rows)
    gbench, context = google_benchmark(args.build, args.smoke)
    counts = {}
    for r in rows:
        for n in r['blocks']:
            log('callgrind:', r['class'], 'block', n)
            counts[(r['class'], n)] = callgrind(args.build, r['class'], n, args.smoke)

    log('subnormal flags over whole decays (x86-64)')
    denormals = {'x86-64': denormal_flags([], os.path.join(args.build, 'bench', 'tavrelle_count'),
                                          rows, args.smoke)}
    arm = None
    arm_count = os.path.join(args.arm_build, 'bench', 'tavrelle_count')
    missing = [what for what, ok in (
        ('the ARM build (make arm)', os.path.exists(arm_count)),
        ('qemu-arm', shutil.which('qemu-arm')),
        ('the measuring tools in ' + args.tools,
         os.path.exists(os.path.join(args.tools, 'vfp11-model.py')))) if not ok]
    if missing:
        arm = 'missing ' + ', '.join(missing)
        log('ARM:', arm)
    else:
        with tempfile.TemporaryDirectory() as d:
            tool = Arm(args.arm_build, args.tools, d)
            log('subnormal flags over whole decays (ARM under qemu-arm)')
            denormals['ARM'] = denormal_flags(list(QEMU), arm_count, rows, args.smoke)
            arm = {}
            for r in rows:
                for n in r['blocks']:
                    log('qemu-arm:', r['class'], 'block', n)
                    arm[(r['class'], n)] = tool.measure(r['class'], n, args.smoke)

    if args.skip_pd:
        pd, pd_setting = {}, (0, 0, 0)
    else:
        pd, pd_setting = pure_data(rows, os.path.join(args.build, 'tavrelle'), args.smoke)
    results = {'counts': {'%s/%d' % k: v for k, v in counts.items()},
               'arm': {'%s/%d' % k: v for k, v in arm.items()} if isinstance(arm, dict) else {},
               'time': {k: v[0] for k, v in gbench.items()},
               'denormals': {p: {'%s/%d/%d' % k: v for k, v in d.items()} for p, d in denormals.items()}}
    baseline = None
    if os.path.exists(args.baseline):
        baseline = json.load(open(args.baseline))
    text = report(rows, gbench, context, counts, arm, pd, pd_setting, args.smoke, baseline, denormals)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    open(out, 'w').write(text)
    json.dump(results, open(os.path.join(args.build, 'bench', 'results.json'), 'w'), indent=1)
    print(text)
    log('written to', out)


def counts_only(args, rows):
    """The figures that do not depend on the machine's load, for every class and block."""
    figures = {}
    for r in rows:
        for n in r['blocks']:
            log('callgrind:', r['class'], 'block', n)
            figures['x86-64 %s/%d' % (r['class'], n)] = callgrind(args.build, r['class'], n, args.smoke)
    if os.path.exists(os.path.join(args.arm_build, 'bench', 'tavrelle_count')):
        with tempfile.TemporaryDirectory() as d:
            tool = Arm(args.arm_build, args.tools, d)
            for r in rows:
                for n in r['blocks']:
                    log('qemu-arm:', r['class'], 'block', n)
                    m = tool.measure(r['class'], n, args.smoke)
                    for k in ('instructions', 'passes', 'body', 'model', 'cycles', 'whole'):
                        figures['arm %s/%d %s' % (r['class'], n, k)] = m[k]
    json.dump(figures, open(args.counts_only, 'w'), indent=1, sort_keys=True)
    log('written to', args.counts_only)


def splice_denormals(args, rows, out):
    """Runs only the subnormal-flag checks and puts their table into the report at `out`,
    after the timing table of its Denormals section."""
    denormals = {'x86-64': denormal_flags([], os.path.join(args.build, 'bench', 'tavrelle_count'),
                                          rows, args.smoke)}
    arm_count = os.path.join(args.arm_build, 'bench', 'tavrelle_count')
    if os.path.exists(arm_count) and shutil.which('qemu-arm'):
        denormals['ARM'] = denormal_flags(list(QEMU), arm_count, rows, args.smoke)
    lines = []
    denormal_section(lines.append, rows, denormals, args.smoke)
    text = open(out).read()
    start = text.index('## Denormals')
    end = text.index('\n## ', start + 1)
    section = text[start:end].rstrip('\n')
    cut = section.find('\n\nOver the whole decay')
    if cut >= 0:
        section = section[:cut]
    open(out, 'w').write(text[:start] + section + '\n' + '\n'.join(lines) + '\n' + text[end:])
    log('written to', out)


if __name__ == '__main__':
    main()
