# generate.py [FOLDER]: writes the help patches, <class>-help.pd, in the style of Pd's own
# (a header with [pd reference], the class live with a control per inlet, a source switched
# through a ramp, a volume that ramps to a safe level, see-also objects and the example
# that uses the class). Edit the texts and layouts here and run it from the top folder:
# python3 help/generate.py. Each patch keeps the [pd META] it already has.
import re, sys
HELP = sys.argv[1] if len(sys.argv) > 1 else 'help'
CW = 7  # character width of Pd's font at size 12
# The window fits a 1024 x 700 screen with its title and menu bars.
W, H, TOP = 800, 612, 16

def shows_as_typed(word):
    """Whether Pd shows the word as typed: a word it reads as a number ("23." or
    "0.70710677") it shows as that number ("23", "0.707107")."""
    try:
        v = float(word)
    except ValueError:
        return True
    return '%g' % v == word or not re.fullmatch(r'[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?', word)

def esc(t):
    # Pd shows a semicolon in a comment as a line break: none in these texts. A word Pd
    # would show as another number gets its dot escaped, which keeps it a symbol.
    t = t.replace('; ', ', ').replace(',', ' \\,')
    return ' '.join(w if shows_as_typed(w) else w.replace('.', '\\.', 1) for w in t.split(' '))

class Canvas:
    def __init__(self):
        self.lines, self.conns = [], []
    def add(self, line):
        self.lines.append(line); return len(self.lines) - 1
    def obj(self, x, y, t, w=None):
        return self.add(f"#X obj {x} {y} {t}{', f %d' % w if w else ''};")
    def msg(self, x, y, t):
        return self.add(f"#X msg {x} {y} {t};")
    def text(self, x, y, t, w=None):
        return self.add(f"#X text {x} {y} {esc(t)}{', f %d' % w if w else ''};")
    def num(self, x, y, w=5, lo=0, hi=0):
        return self.add(f"#X floatatom {x} {y} {w} {lo} {hi} 0 - - - 0;")
    def tgl(self, x, y, label):
        t = self.obj(x, y, "tgl 15 0 empty empty empty 17 7 0 10 #fcfcfc #000000 #000000 0 1")
        self.text(x + 22, y - 1, label)
        return t
    def hsl(self, x, y, default, w=128):
        return self.obj(x, y, f"hsl {w} 15 0 1 0 0 empty empty empty -2 -8 0 10 #fcfcfc #000000 #000000 {round(default * 100 * (w - 1))} 1")
    def rule(self, x, y, w, thick=1, label='empty', color='#000000'):
        return self.obj(x, y, f"cnv {thick} {w} {thick} empty empty {label} 8 12 0 13 {color} #000000 0")
    def sub(self, x, y, name, inner, w, h, wx=300, wy=60):
        return self.add(f"#N canvas {wx} {wy} {w} {h} {name} 0;\n{inner}#X restore {x} {y} pd {name};")
    def c(self, a, o, b, i):
        self.conns.append(f"#X connect {a} {o} {b} {i};")
    def chain(self, *boxes):
        for a, b in zip(boxes, boxes[1:]): self.c(a, 0, b, 0)
    def body(self):
        return "".join(l + "\n" for l in self.lines + self.conns)

def existing_meta(cls):
    t = open(f"{HELP}/{cls}-help.pd").read()
    m = re.search(r"#N canvas [^\n]* META 0;\n(.*?)#X restore", t, re.S)
    body = m.group(1)
    # A bare 1.0 would be read as the number 1 and shown as "1".
    return re.sub(r"VERSION 1(\\?)\.0", r"VERSION 1\\.0", body)

NO_ARGUMENTS = ('none. The class takes no creation arguments and says nothing about any it is given: '
                'set it with the messages.')

def reference(cls, title, inlets, outlets, messages, extra):
    r = Canvas()
    r.obj(20, 14, cls); r.text(20 + (len(cls) + 2) * CW, 14, '- ' + title)
    y = 48
    def section(label, items, thick):
        nonlocal y
        r.rule(9, y, 560, thick, label, '#202020'); y += 28 if thick > 2 else 22
        for tag, t in items:
            if tag:
                r.rule(11, y, 556, 1, tag, '#7c7c7c'); y += 8
            r.text(90, y, t, 66); y += 16 * (1 + len(t) // 64) + 10
        y += 6
    section('ARGUMENTS:', [('', NO_ARGUMENTS)], 5)
    section('INLETS:', inlets, 2)
    section('OUTLETS:', outlets, 2)
    if messages: section('MESSAGES:', messages, 2)
    for label, t in extra: section(label, [('', t)], 2)
    r.rule(9, y, 560, 5)
    return r.body(), y + 30

# Rows of the example, top down: the source and the controls, the messages, the live
# object, the listening path and the readouts, the volume, [dac~], see also.
Y_SRC, Y_LABEL, Y_MSG, Y_OBJ, Y_POST = 118, 118, 246, 338, 368
Y_VOL, Y_OUT = 318, 488

def control(p, x, y, default, load=None):
    """A slider that starts at `default` (or at `load`, the setting the example shows),
    sent exactly at load and shown in a number box."""
    start = default if load is None else load
    lb = p.obj(x, y, 'loadbang'); d = p.msg(x, y + 22, f'{start}')
    s = p.hsl(x, y + 46, start); v = p.num(x, y + 66, 5, 0, 1)
    p.chain(lb, d, s, v)
    return v

def readout(p, sig, outlet, x, y, label, fmt=8, width=26):
    """A number that shows a signal ten times a second ([snapshot~] inside)."""
    inner = ("#X obj 20 20 inlet~;\n#X obj 120 20 loadbang;\n#X obj 120 50 metro 100;\n"
             "#X obj 20 80 snapshot~;\n#X obj 20 110 outlet;\n#X connect 0 0 3 0;\n"
             "#X connect 1 0 2 0;\n#X connect 2 0 3 0;\n#X connect 3 0 4 0;\n")
    sn = p.sub(x, y, 'snapshots', inner, 300, 160)
    n = p.num(x, y + 26, fmt)
    p.c(sig, outlet, sn, 0); p.c(sn, 0, n, 0)
    p.text(x + 100, y, label, width)
    return n

def write(cls, title, description, inlets, msgs, source, post, note, ref, see, example, live_x=26):
    p = Canvas()
    p.obj(26, 10, cls)
    p.text(26 + (len(cls) + 2) * CW, 11, '- ' + title)
    inner, h = reference(cls, title, *ref)
    p.sub(596, 10, 'reference', inner, 600, min(h, 640), 300, TOP)
    p.text(692, 11, '<= click')
    p.rule(7, 38, W - 30)
    p.text(26, 46, description, 106)
    # The example: the source on the left, a column of controls for each float inlet.
    n_in = 1 + len(inlets)
    spacing = 190
    src = source(p)
    width = (spacing * (n_in - 1) + CW + 4) // CW if n_in > 1 else None
    live = p.obj(live_x, Y_OBJ, cls, width)
    p.c(src, 0, live, 0)
    for k, m in enumerate(msgs):
        p.c(p.msg(60 + 8 * k, Y_MSG + 22 * k, m), 0, live, 0)
    for k, (sel, default, what, *load) in enumerate(inlets, start=1):
        x = 26 + spacing * k
        shown = f', set to {load[0]} here' if load else ''
        p.text(x, Y_LABEL, f"{sel} 0 to 1 (default {default}{shown})", 24)
        v = control(p, x, Y_LABEL + 36, default, *load)
        p.c(v, 0, live, k)
        if what: p.text(x + 50, Y_LABEL + 102, what, 17)
    left, right = post(p, live, src)
    # The volume: a ramp to a safe, audible level, the same on both channels.
    x = 600
    p.text(x, Y_VOL - 20, 'volume (0 to 1)', 16)
    vn = control(p, x, Y_VOL, 0.2)
    pk = p.obj(x, Y_VOL + 90, 'pack f 50')
    ln = p.obj(x, Y_VOL + 112, 'line~')
    p.chain(vn, pk, ln)
    gl = p.obj(26, Y_OUT, '*~'); gr = p.obj(120, Y_OUT, '*~')
    p.c(left[0], left[1], gl, 0); p.c(right[0], right[1], gr, 0)
    p.c(ln, 0, gl, 1); p.c(ln, 0, gr, 1)
    dac = p.obj(26, Y_OUT + 24, 'dac~')
    p.c(gl, 0, dac, 0); p.c(gr, 0, dac, 1)
    p.msg(600, Y_OUT - 20, '\\; pd dsp 1'); p.msg(680, Y_OUT - 20, '\\; pd dsp 0')
    p.text(600, Y_OUT + 20, 'audio on / off', 16)
    if note:
        if n_in == 3: p.text(578, Y_LABEL, note, 27)
        else: p.text(420, Y_LABEL + 10, note, 48)
    # See also: the related classes, and the example that uses this one.
    yb = 548
    p.rule(7, yb - 8, W - 30)
    p.text(20, yb, 'see also:')
    x = 96
    for other in see:
        p.obj(x, yb, other); x += (len(other) + 2) * CW + 8
    opener = ("#X obj 20 20 inlet;\n#X obj 20 50 t a b;\n#X msg 120 80 dir 0 examples;\n"
              "#X obj 120 110 pdcontrol;\n#X obj 20 140 list append;\n#X msg 20 170 \\; pd open \\$1 \\$2;\n"
              "#X text 20 210 Opens the example from the examples folder beside this help patch., f 40;\n"
              "#X connect 0 0 1 0;\n#X connect 1 1 2 0;\n#X connect 2 0 3 0;\n#X connect 3 0 4 1;\n"
              "#X connect 1 0 4 0;\n#X connect 4 0 5 0;\n")
    m = p.msg(x + 8, yb, example)
    o = p.sub(max(x + 8, 340), yb + 26, 'open-example', opener, 400, 260, 300, TOP)
    p.c(m, 0, o, 0)
    p.text(x + 24 + len(example) * CW, yb, '<= click: the example built on it', 36)
    p.add("#X text 20 574 tavrelle version 1\\.0 - BSD 3-clause licence;")
    p.sub(692, 574, 'META', existing_meta(cls), 520, 300, 100, TOP)
    open(f"{HELP}/{cls}-help.pd", 'w').write(f"#N canvas 0 {TOP} {W} {H} 12;\n" + p.body())

# --- sources: the left column from Y_SRC down, ending in the signal for the left inlet ---
def ramped(p, sig, t, level):
    """sig times a 50 ms ramp to `level` that the toggle t switches: no click."""
    s = p.obj(26, Y_SRC + 26, f"* {level}")
    pk = p.obj(26, Y_SRC + 50, "pack f 50"); ln = p.obj(26, Y_SRC + 74, "line~")
    p.chain(t, s, pk, ln)
    m = p.obj(26, Y_SRC + 108, '*~'); p.c(ln, 0, m, 0); p.c(sig, 0, m, 1)
    return m

def bursts(period, env, label, colour='noise~'):
    def src(p):
        t = p.tgl(26, Y_SRC, label)
        met = p.obj(26, Y_SRC + 26, f'metro {period}')
        e = p.msg(26, Y_SRC + 50, env)
        vl = p.obj(26, Y_SRC + 74, 'vline~')
        p.chain(t, met, e, vl)
        if isinstance(colour, str):
            snd = p.obj(110, Y_SRC + 74, colour)
        else:
            snd = colour(p)
        m = p.obj(26, Y_SRC + 108, '*~'); p.c(vl, 0, m, 0); p.c(snd, 0, m, 1)
        return m
    return src

def saw(p):
    t = p.tgl(26, Y_SRC, 'saw on / off')
    ph = p.obj(130, Y_SRC + 26, 'phasor~ 110'); dc = p.obj(130, Y_SRC + 50, '-~ 0.5')
    p.chain(ph, dc)
    return ramped(p, dc, t, 0.5)

def sine(freq, level, label):
    def src(p):
        t = p.tgl(26, Y_SRC, label)
        o = p.obj(130, Y_SRC + 50, f'osc~ {freq}')
        return ramped(p, o, t, level)
    return src

def plain(p, live, src):
    return (live, 0), (live, 0)

def scaled(factor, why):
    """The listening path: the object's output times `factor`, said beside it."""
    def post(p, live, src):
        g = p.obj(26, Y_POST + 10, f'*~ {factor}')
        p.c(live, 0, g, 0)
        p.text(110, Y_POST + 10, why, 60)
        return (g, 0), (g, 0)
    return post

# --- the classes ---
def comb(cls, kind):
    ch = cls[-2]; side = 'right' if ch == 'R' else 'left'
    other = cls[:-2] + ('L~' if ch == 'R' else 'R~')
    delays = {'R': '1139 1211 1300 1379 1445 1514 1580 1640', 'L': '1116 1188 1277 1356 1422 1491 1557 1617'}[ch]
    first = int(delays.split()[0]) + 1
    if kind == 'velmar':
        title = f'damped comb bank ({side} channel of a reverb)'
        desc = (f'Eight feedback comb filters in parallel on one input, summed to one output. Each loop holds a one-pole lowpass, '
                f'so high frequencies die away faster than low ones: the comb section of the {side} channel of a freeverb-style reverb. '
                f'Follow it with [skavel{ch}~] and pair it with [{other}] for stereo.')
        inlets = [('decay', 0.5, 'feedback 0.7 to 0.98'), ('tone', 0.3, '0 darkest, 1 no damping')]
        msgs = ['decay 0.8', 'tone 0.6', 'test']
        ref = ([('1st:', 'signal - to reverberate (scaled by 0.015 on the way in). Also takes decay, tone and test.'),
                ('2nd:', 'float - decay 0 to 1 (default 0.5): feedback 0.7 + 0.28 x decay, from 0.7 to 0.98.'),
                ('3rd:', 'float - tone 0 to 1 (default 0.3): damp (1 - tone) x 0.9, lowpass weight 1 - damp. Values outside 0 to 1 are clamped silently.')],
               [('1st:', 'signal - the sum of the eight combs.')],
               [('', 'decay <float>, tone <float>: as the 2nd and 3rd inlets.'),
                ('', "test: posts 'feedback is', 'damp is' and 'attenuator is' with the current values to Pd's console.")],
               [('DELAYS:', f'{delays} samples, fixed in samples at every sample rate (each right-channel delay is the left one plus 23 samples). An impulse first reaches the output at sample {first} with 0.015 x attenuator.')])
        note = ("'test' prints the feedback, the damp and the attenuator to Pd's console.")
    else:
        title = f'plain comb bank ({side} channel)'
        desc = (f'Eight feedback comb filters in parallel on one input, summed to one output, with no damping in the loops: '
                f'every frequency decays alike and the tail rings bright and metallic. It is [velmar{ch}~] at tone 1, one sample earlier.')
        inlets = [('decay', 0.5, 'feedback 0.7 to 0.98')]
        msgs = ['decay 0.9', 'decay 0']
        ref = ([('1st:', 'signal - to reverberate (scaled by 0.015 on the way in). Also takes decay.'),
                ('2nd:', 'float - decay 0 to 1 (default 0.5): feedback 0.7 + 0.28 x decay, from 0.7 to 0.98. Values outside 0 to 1 are clamped silently.')],
               [('1st:', 'signal - the sum of the eight combs.')],
               [('', 'decay <float>: as the 2nd inlet.')],
               [('DELAYS:', f'{delays} samples, fixed in samples at every sample rate (each right-channel delay is the left one plus 23 samples). Each comb echoes first after exactly its length, with 0.015 times the input, then every length again times the feedback.')])
        note = None
    # Measured at the default volume, clicks on: peak -45 dBFS (damped) and -39 dBFS (plain)
    # without the make-up; about -13 dBFS with it.
    makeup = 40 if kind == 'velmar' else 20
    why = (f'x {makeup}: the bank scales its input by 0.015, this makes up the level so that the example '
           'is heard at the default volume (its own output stays as quiet)')
    see = [other, f'{"plenth" if kind == "velmar" else "velmar"}{ch}~', f'skavel{ch}~']
    write(cls, title, desc, inlets, msgs, bursts(1500, '1 2 \\, 0 20 2', 'clicks on / off'), scaled(makeup, why), note, ref, see, 'reverb.pd')

for c in ('velmarR~', 'velmarL~'): comb(c, 'velmar')
for c in ('plenthR~', 'plenthL~'): comb(c, 'plenth')

for cls in ('skavelR~', 'skavelL~'):
    ch = cls[-2]; side = 'right' if ch == 'R' else 'left'
    other = 'skavelL~' if ch == 'R' else 'skavelR~'
    delays = {'R': '579 464 364 248', 'L': '556 441 341 225'}[ch]
    write(cls, f'allpass diffuser ({side} channel)',
          f'Four freeverb allpass stages in series with a feedback of 0.5: they smear each echo of a comb bank into a dense tail. '
          f'One signal in, one out, no settings. Put it after [velmar{ch}~] (and [plenth{ch}~]). '
          'It adds gain: white noise comes out about 15 dB louder, with peaks near 3 from noise at -17 dBFS RMS.',
          [], [], bursts(1000, '1 1 \\, 0 2 1', 'clicks on / off'),
          scaled(0.4, 'x 0.4: the diffuser adds gain, this keeps the example clear of clipping up to full volume'),
          ('Listen: each click comes out as a short burst of echoes.'),
          ([('1st:', "signal - to diffuse. No messages besides Pd's own.")],
           [('1st:', 'signal - the diffused signal. The first output sample of an impulse equals the impulse. Louder than the input: white noise gains about 15 dB.')], [],
           [('DELAYS:', f'{delays} samples (longest first), fixed in samples at every sample rate; each right-channel delay is the left one plus 23 samples.')]),
          [other, f'velmar{ch}~', f'plenth{ch}~'], 'reverb.pd')

def lumbrisk_write():
    def post(p, live, src):
        nz = p.obj(300, Y_OBJ, 'noise~'); m = p.obj(200, Y_POST + 40, '*~')
        p.c(live, 0, m, 0); p.c(nz, 0, m, 1)
        p.text(40, Y_POST + 12, 'noise shaped by the amplitude: the right channel', 18)
        readout(p, live, 0, 300, Y_POST, 'amplitude of the tone: 0.707 as each pluck starts (its peak is 1), then falling with it to 0', 8, 27)
        return (src, 0), (m, 0)
    write('lumbrisk~', 'instantaneous amplitude',
          'Follows the amplitude of a signal sample by sample, with no smoothing: a 90-degree phase-difference network splits the input '
          'into an analytic pair and the object outputs 0.7071 times its magnitude. A steady sine gives a nearly constant output: its RMS value. '
          'Here the tone plays on the left and noise shaped by its amplitude on the right.',
          [], [], bursts(600, '1 5 \\, 0 500 5', 'plucked tone on / off', 'osc~ 330'), post, None,
          ([('1st:', "signal - whose amplitude to follow. No messages besides Pd's own.")],
           [('1st:', 'signal - the instantaneous amplitude, 0.70710677 x sqrt(re^2 + im^2) with a fast square root. Never negative: it carries DC, so do not send it to the speakers.')], [],
           [('RANGE:', 'the network holds its 90 degrees (within 0.73) from 0.0005 to 0.4995 times the sample rate; a sine of peak 1 from 0.01 to 0.3 times the sample rate reads 0.702 to 0.710. Silence gives exactly 0.')]),
          ['quorrel~'], 'meter.pd', live_x=200)
lumbrisk_write()

def quorrel_write():
    def post(p, live, src):
        s = p.obj(300, Y_POST - 6, 'expr~ $v1*$v1 + $v2*$v2')
        p.c(live, 0, s, 0); p.c(live, 1, s, 1)
        readout(p, s, 0, 300, Y_POST + 18, 're^2 + im^2: the peak squared, at any pitch: 0.25 here (peak 0.5)', 8, 27)
        p.text(300, Y_OBJ - 38, 'left: real part, right: imaginary part (90 degrees later)', 40)
        return (live, 0), (live, 1)
    write('quorrel~', 'analytic pair (real and imaginary parts)',
          'Turns one signal into two that stay 90 degrees apart across nearly the whole band, both at unit gain: the left outlet is the real part, '
          'the right outlet the imaginary part, lagging by 90 degrees. Multiply them with a cosine and a sine to shift frequencies.',
          [], [], sine(440, 0.5, 'sine on / off'), post, None,
          ([('1st:', "signal. No messages besides Pd's own.")],
           [('1st:', 'signal - the real part (the direct allpass chain).'),
            ('2nd:', 'signal - the imaginary part, 90 degrees behind the 1st (within 0.73 degrees from 0.0005 to 0.4995 times the sample rate); left + i x right is a positive-frequency analytic signal.')], [],
           [('NOTES:', 'At 0 Hz both outlets equal the input; at a quarter of the sample rate the right outlet is the input one sample late; at Nyquist it is the left outlet negated.')]),
          ['lumbrisk~'], 'freqshift.pd', live_x=200)
quorrel_write()

def duck_write():
    def voice(p):
        nz = p.obj(140, Y_SRC + 26, 'noise~'); bp = p.obj(140, Y_SRC + 50, 'bp~ 900 3')
        p.chain(nz, bp); return bp
    def post(p, live, src):
        # The voice reaches the listening path through [s~] / [r~]: a cord would cross
        # the object.
        p.obj(80, Y_SRC + 108, 's~ \\$0-voice')
        p.c(src, 0, len(p.lines) - 1, 0)
        g = p.obj(26, Y_POST + 72, '*~')
        p.c(live, 0, g, 0)
        readout(p, live, 0, 240, Y_POST, 'gain: 1, dipping under each burst', 8, 20)
        o1 = p.obj(80, Y_POST, 'osc~ 220'); o2 = p.obj(150, Y_POST, 'osc~ 277')
        mix = p.obj(80, Y_POST + 24, '+~'); lv = p.obj(80, Y_POST + 48, '*~ 0.25')
        p.c(o1, 0, mix, 0); p.c(o2, 0, mix, 1); p.chain(mix, lv)
        p.c(lv, 0, g, 1)
        rv = p.obj(120, Y_POST + 72, 'r~ \\$0-voice'); out = p.obj(26, Y_POST + 96, '+~')
        p.c(g, 0, out, 0); p.c(rv, 0, out, 1)
        p.text(240, Y_POST + 44, 'the chord times the gain, plus the voice', 44)
        return (out, 0), (out, 0)
    write('duck~', 'ducker: a gain signal from a side-chain',
          'Turns its input (the side-chain, e.g. a voice) into a gain signal between 0 and 1 to multiply with another signal (e.g. music): '
          '1 while the side-chain, scaled by the depth, peaks below 1, and the reciprocal of the scaled peak above it, smoothed with the '
          'response time. It carries no audio of its own.',
          [('depth', 0, 'ducking starts above 1 / (20 x depth)', 1), ('response', 0.3, 'time constant 20 + 200 x response ms')],
          ['depth 1', 'response 0.8', 'bypass 1', 'bypass 0'], bursts(900, '1 20 \\, 0 400 20', 'voice bursts on / off', voice), post,
          ('Note: the gain starts at 0, when the object is created and when bypass returns to 0, and rises to its target with the response time: the music fades in.'),
          ([('1st:', 'signal - the side-chain. Also takes depth, response and bypass.'),
            ('2nd:', 'float - depth 0 to 1 (default 0: no ducking). Ducking starts where the side-chain peaks above 1 / (20 x depth).'),
            ('3rd:', 'float - response 0 to 1 (default 0.3): time constant 20 + 200 x response ms. Values outside 0 to 1 are clamped silently.')],
           [('1st:', 'signal - the gain, 0 to 1. A new object starts at 0 and rises to its target with the response time.')],
           [('', 'depth <float>, response <float>: as the inlets.'),
            ('', 'bypass <float>: nonzero holds the gain at exactly 1 and clears the follower; bypass 0 resumes from a gain of 0, which rises as after creation.')], []),
          ['lumbrisk~'], 'ducking.pd')
duck_write()

write('snarvel~', 'bit-flip distortion',
      'Quantises each sample to an 8-bit code, flips bit 5 of the code and turns it back into a signal, then removes the DC with a high-pass '
      'near 40 Hz and mixes the result with the untouched input. At mix 0 (the default) it passes its input through unchanged; '
      'here mix is set to 1 at load. At mix 1 quiet signals come out loud: a sine of peak 0.02 comes out 21 dB louder, so fades and tails turn into buzz.',
      [('mix', 0, 'the bit-flipped share: 0 clean, 1 all', 1), ('noisegate', 0.2, 'which small inputs fall silent')],
      ['mix 1', 'mix -1', 'noisegate 0', 'noisegate 1'], bursts(2000, '0.9 5 \\, 0 1800 5', 'plucked tone on / off', 'osc~ 220'), plain,
      ('Listen to the tail of each note: as it fades it turns into a loud buzz at noisegate 0 to 0.2, '
       'and falls silent at noisegate 1. While mix is above 0, an infinite or NaN input sample gives a NaN or infinite output sample.'),
      ([('1st:', 'signal - to distort. Also takes mix and noisegate.'),
        ('2nd:', 'float - mix 0 to 1 (default 0): the output is (1 - mix) x input plus mix x the bit-flipped path. A negative mix acts as 0 and also clears the high-pass, above 1 acts as 1.'),
        ('3rd:', 'float - noisegate 0 to 1 (default 0.2): which band of small inputs falls onto the code of silence, below 0 acts as 0, above 1 as 1.')],
       [('1st:', 'signal - the mix of the dry input and the high-passed bit-flipped signal. Quiet inputs come out loud: at mix 1 a sine of peak 0.02 comes out 21 dB louder.')],
       [('', 'mix <float>, noisegate <float>: as the inlets.')],
       [('NOTES:', 'Input -1 to 1 spans the codes 85 to 170, beyond about 3 the code wraps. The high-pass corner lies near 40 Hz at the usual rates.')]),
      ['damp~'], 'lofi.pd')

write('damp~', 'damping lowpass',
      "A two-pole state-variable lowpass. 'tone' moves its corner from 200 Hz (tone 0) to a quarter of the sample rate (tone 1) on a "
      'square-law curve: 200 + (sr / 4 - 200) x tone^2 Hz. At 44100 Hz tone 0.3 gives 1174 Hz, 0.5 gives 2906 Hz and 1 gives 11025 Hz.',
      [('tone', 0.3, 'corner 200 Hz to sr / 4')], ['tone 0', 'tone 1'], saw, plain,
      ('Note: near tone 1 the filter lifts the top of the spectrum above the input level: at tone 1 and 44100 Hz it is 3 dB down at 11 kHz, passes 0 dB near 17 kHz and reaches about +14 dB near 22 kHz. An infinite or NaN input sample spoils the rest of its block; the next block starts again from silence.'),
      ([('1st:', 'signal - to filter. Also takes tone.'),
        ('2nd:', 'float - tone 0 to 1 (default 0.3). Values outside 0 to 1 are clamped silently.')],
       [('1st:', 'signal - lowpassed, unit gain at 0 Hz; the input first reaches it one sample later.')],
       [('', 'tone <float>: as the 2nd inlet. The corner follows the sample rate: a new rate is picked up when DSP restarts.')],
       [('NOTES:', 'Near tone 1 the response rises above 0 dB towards the top of the band (at tone 1, 44100 Hz: above 0 dB from about 17 kHz, about +14 dB near 22 kHz). An infinite or NaN input spoils the output samples after it in its block; the states are cleared at the end of the block and the next block starts from zero.')]),
      ['snarvel~', 'lop~'], 'lofi.pd')
