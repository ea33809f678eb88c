# help-levels.py STAGE OUT [CLASS...]: what each help patch plays at its default volume.
# A copy of <class>-help.pd goes into OUT with its toggles switched on at load and its
# [dac~] swapped for a recorder; pd -batch plays it for 8 seconds from the copy's folder
# (beside links to the plug-ins of STAGE), and the program prints the peak and RMS of
# each channel over seconds 1 to 8, in dBFS.
import math, os, re, struct, subprocess, sys

stage, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
classes = sys.argv[3:] or sorted(f[:-8] for f in os.listdir(stage) if f.endswith('-help.pd'))
os.makedirs(out, exist_ok=True)
for f in os.listdir(stage):
    if f.endswith(('.pd_linux', '.so')) and not os.path.exists(f'{out}/{f}'):
        os.symlink(f'{stage}/{f}', f'{out}/{f}')
SECONDS, SKIP = 8, 1
RECORDER = f"""#N canvas 0 0 400 300 12;
#X obj 20 20 inlet~;
#X obj 120 20 inlet~;
#X obj 20 80 tabwrite~ levels-l;
#X obj 120 80 tabwrite~ levels-r;
#X obj 220 20 loadbang;
#X obj 220 50 t b b;
#X obj 220 80 delay {SECONDS * 1000 + 50};
#X msg 220 110 write -bytes 4 levels.wav levels-l levels-r;
#X obj 220 140 soundfiler;
#X msg 220 170 \\; pd quit;
#X obj 20 200 array define levels-l {SECONDS * 44100};
#X obj 120 200 array define levels-r {SECONDS * 44100};
#X msg 300 110 \\; pd dsp 1;
#X connect 0 0 2 0;
#X connect 1 0 3 0;
#X connect 4 0 5 0;
#X connect 5 0 6 0;
#X connect 5 1 2 0;
#X connect 5 1 3 0;
#X connect 6 0 7 0;
#X connect 7 0 8 0;
#X connect 8 0 9 0;
#X connect 4 0 12 0;
"""
open(f'{out}/levels-recorder~.pd', 'w').write(RECORDER)

def levels(path):
    data = open(path, 'rb').read()
    pos = 12
    while data[pos:pos + 4] != b'data':
        pos += 8 + struct.unpack('<I', data[pos + 4:pos + 8])[0]
    n = struct.unpack('<I', data[pos + 4:pos + 8])[0] // 8
    frames = struct.unpack(f'<{2 * n}f', data[pos + 8:pos + 8 + 8 * n])
    res = []
    for ch in (0, 1):
        s = frames[ch + 2 * SKIP * 44100::2]
        peak = max(abs(v) for v in s)
        rms = math.sqrt(sum(v * v for v in s) / len(s))
        res.append((peak, rms))
    return res

def db(v):
    return 20 * math.log10(v) if v > 0 else -math.inf

for cls in classes:
    text = open(f'{stage}/{cls}-help.pd').read()
    # Toggles on at load, [dac~] recorded.
    text = re.sub(r'tgl 15 0 (.*) 0 1;', r'tgl 15 1 \1 1 1;', text)
    wav = f'{out}/{cls}.wav'
    text = re.sub(r'(#X obj \d+ \d+) dac~;', r'\1 levels-recorder~;', text)
    copy = f'{out}/{cls}-levels.pd'
    open(copy, 'w').write(text)
    subprocess.run(['pd', '-nogui', '-noaudio', '-batch', '-noprefs', '-r', '44100',
                    '-open', os.path.basename(copy)], cwd=out, check=True, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(f'{out}/levels.wav', wav)
    (pl, rl), (pr, rr) = levels(wav)
    print(f'{cls:12} left peak {db(pl):6.1f} rms {db(rl):6.1f}   right peak {db(pr):6.1f} rms {db(rr):6.1f} dBFS')
