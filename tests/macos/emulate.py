#!/usr/bin/python3
# emulate.py CASES FOLDER: runs every case of CASES (written by macos_reference from the
# Linux plug-ins in the test host) through every macOS bundle in FOLDER under unicorn, as
# Pd would: the bundle's segments mapped, its pointers slid and its imports bound as dyld
# does, Pd's API and the C library's functions supplied here (exp and sin are
# glibc's, through ctypes), the setup entry called, the object created and set, "dsp"
# called and the perform routines run block by block on vectors filled with the unwritten
# pattern. Every output sample must have the Linux result's bits, but a NaN may be any
# NaN (ARM makes positive ones, x86 negative; and of two NaN operands unicorn's x86 passes
# on the one x87 would, SSE the first), a double-precision bundle's every
# output must be a float widened. On arm64, where clang has no mode that keeps it from
# speculating a product whose result a branch discards, a case whose Linux run raised no
# subnormal flag must leave FPSR's underflow flag clear too, with flushing off. (Unicorn
# does not raise MXCSR's flags, so x86-64 has no such check; clang keeps its products in
# order there, as on Linux.)
import ctypes
import ctypes.util
import glob
import os
import struct
import sys
import time

from unicorn import Uc, UcError, UC_ARCH_ARM64, UC_ARCH_X86, UC_HOOK_CODE, UC_MODE_64, UC_MODE_ARM
from unicorn import arm64_const as A
from unicorn import x86_const as X

import macho

IMAGE, HOOKS, HEAP, STACK, HALT = 0x10000000, 0x20000000, 0x30000000, 0x70000000, 0x7F000000
HEAP_SIZE, STACK_SIZE = 64 << 20, 1 << 20
A_NULL, A_FLOAT, A_CANT = 0, 1, 11
UNWRITTEN = 0x7FA5A5A5
libm = ctypes.CDLL(ctypes.util.find_library("m"))
for name, kind in (("exp", ctypes.c_double), ("sin", ctypes.c_double)):
    getattr(libm, name).restype = kind
    getattr(libm, name).argtypes = [kind]


def f32(bits):
    return struct.unpack("<f", struct.pack("<I", bits))[0]


def bits32(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


def f64(bits):
    return struct.unpack("<d", struct.pack("<Q", bits & (2**64 - 1)))[0]


def bits64(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


class Cpu:
    """The calling convention of one machine: integer and floating-point arguments and
    results, variadic arguments, and a call that returns to HALT."""

    def __init__(self, arch):
        self.arch = arch
        if arch == "arm64":
            self.uc = Uc(UC_ARCH_ARM64, UC_MODE_ARM)
            self.ints = [getattr(A, "UC_ARM64_REG_X%d" % k) for k in range(8)]
            self.ret_insn = struct.pack("<I", 0xD65F03C0)
            self.sp = A.UC_ARM64_REG_SP
        else:
            self.uc = Uc(UC_ARCH_X86, UC_MODE_64)
            self.ints = [X.UC_X86_REG_RDI, X.UC_X86_REG_RSI, X.UC_X86_REG_RDX, X.UC_X86_REG_RCX,
                         X.UC_X86_REG_R8, X.UC_X86_REG_R9]
            self.ret_insn = b"\xc3"
            self.sp = X.UC_X86_REG_RSP

    def arg(self, k):
        return self.uc.reg_read(self.ints[k])

    def vararg(self, named, k):
        """The k-th variadic integer argument after `named` named integer arguments. On
        arm64 macOS every variadic argument is in its own 8-byte stack slot."""
        sp = self.uc.reg_read(self.sp)
        if self.arch == "arm64":
            return struct.unpack("<Q", self.uc.mem_read(sp + 8 * k, 8))[0]
        if named + k < len(self.ints):
            return self.arg(named + k)
        return struct.unpack("<Q", self.uc.mem_read(sp + 8 + 8 * (named + k - len(self.ints)), 8))[0]

    def float_reg(self):
        return A.UC_ARM64_REG_D0 if self.arch == "arm64" else X.UC_X86_REG_XMM0

    def farg(self, double):
        v = self.uc.reg_read(self.float_reg())
        return f64(v & (2**64 - 1)) if double else f32(v & 0xFFFFFFFF)

    def set_fresult(self, value, double):
        self.uc.reg_write(self.float_reg(), bits64(value) if double else bits32(value))

    def set_result(self, value):
        self.uc.reg_write(A.UC_ARM64_REG_X0 if self.arch == "arm64" else X.UC_X86_REG_RAX, value)

    def flags(self):
        """The sticky flag that subnormal arithmetic leaves with flushing off (arm64)."""
        return self.uc.reg_read(A.UC_ARM64_REG_FPSR) & 0x8 if self.arch == "arm64" else 0  # UFC

    def clear_flags(self):
        if self.arch == "arm64":
            self.uc.reg_write(A.UC_ARM64_REG_FPSR, 0)

    def call(self, fn, ints=(), floats=(), double=False):
        for k, v in enumerate(ints):
            self.uc.reg_write(self.ints[k], v)
        for v in floats:
            self.set_fresult(v, double)
        top = STACK + STACK_SIZE - 0x1000
        if self.arch == "arm64":
            self.uc.reg_write(A.UC_ARM64_REG_SP, top)
            self.uc.reg_write(A.UC_ARM64_REG_LR, HALT)
        else:
            top -= 8
            self.uc.mem_write(top, struct.pack("<Q", HALT))
            self.uc.reg_write(X.UC_X86_REG_RSP, top)
            self.uc.reg_write(X.UC_X86_REG_RAX, len(floats))
        self.uc.emu_start(fn, HALT)
        return self.uc.reg_read(A.UC_ARM64_REG_X0 if self.arch == "arm64" else X.UC_X86_REG_RAX)


class Pd:
    """One bundle loaded into a fresh emulated process, with the part of Pd's API and of
    the C library it calls."""

    def __init__(self, image, double):
        self.cpu = cpu = Cpu(image.arch)
        self.uc, self.double, self.sample = cpu.uc, double, 8 if double else 4
        self.heap = HEAP
        self.symbols, self.classes, self.inlets, self.outlets, self.chain = {}, {}, {}, {}, []
        self.posts, self.sr = [], 44100.0
        uc = self.uc
        for base, size in ((HEAP, HEAP_SIZE), (STACK, STACK_SIZE), (HALT, 0x1000)):
            uc.mem_map(base, size)
        if image.arch == "x86_64":
            uc.reg_write(X.UC_X86_REG_MXCSR, 0x1F80)
        else:  # the FPU on, as the kernel leaves it for a process
            uc.reg_write(A.UC_ARM64_REG_CPACR_EL1, 3 << 20)
            uc.reg_write(A.UC_ARM64_REG_FPCR, 0)
        # The segments, then dyld's work: slide every pointer, bind every import.
        for name, vmaddr, vmsize, fileoff, filesize, _ in image.segments:
            if name == "__PAGEZERO" or not vmsize:
                continue
            uc.mem_map(IMAGE + vmaddr, (vmsize + 0xFFF) & ~0xFFF)
            uc.mem_write(IMAGE + vmaddr, image.data[fileoff:fileoff + filesize])
        for addr in image.rebases():
            value = struct.unpack("<Q", uc.mem_read(IMAGE + addr, 8))[0]
            uc.mem_write(IMAGE + addr, struct.pack("<Q", value + IMAGE))
        self.functions = {}
        uc.mem_map(HOOKS, 0x10000)
        for addr, name, _, addend in image.imports():
            target = self.resolve(name.lstrip("_") if name != "dyld_stub_binder" else name)
            uc.mem_write(IMAGE + addr, struct.pack("<Q", target + addend))
        self.called = {a: n for n, a in self.functions.items()}
        uc.hook_add(UC_HOOK_CODE, self.dispatch, begin=HOOKS, end=HOOKS + 0xFFFF)
        self.exports = {k.lstrip("_"): IMAGE + v for k, v in image.exports().items()}

    def alloc(self, size, data=b""):
        addr = self.heap
        self.heap += (max(size, 1) + 15) & ~15
        if self.heap > HEAP + HEAP_SIZE:
            raise MemoryError("emulated heap exhausted")
        self.uc.mem_write(addr, data.ljust(size, b"\0"))
        return addr

    def gensym(self, name):
        if name not in self.symbols:
            text = self.alloc(len(name) + 1, name.encode() + b"\0")
            self.symbols[name] = self.alloc(24, struct.pack("<QQQ", text, 0, 0))
        return self.symbols[name]

    def string(self, addr):
        out = b""
        while True:
            chunk = bytes(self.uc.mem_read(addr + len(out), 64))
            if b"\0" in chunk:
                return (out + chunk[:chunk.index(b"\0")]).decode()
            out += chunk

    def resolve(self, name):
        if name in ("s_float", "s_signal"):
            return self.gensym(name[2:])
        if name not in self.functions:
            slot = HOOKS + 16 * len(self.functions)
            self.uc.mem_write(slot, self.cpu.ret_insn)
            self.functions[name] = slot
        return self.functions[name]

    def dispatch(self, uc, address, size, _):
        name = self.called[address]
        handler = getattr(self, "api_" + name, None)
        if handler is None:
            raise RuntimeError("the bundle called %s, which nothing here supplies" % name)
        handler()

    # Pd's API, as the classes use it.
    def api_gensym(self):
        self.cpu.set_result(self.gensym(self.string(self.cpu.arg(0))))

    def api_class_new(self, expect64=False):
        if expect64 != self.double:
            raise RuntimeError("a %d-bit bundle registered through class_new%s" % (64 if self.double else 32, "64" if expect64 else ""))
        c = self.cpu
        cls = self.alloc(64)
        self.classes[cls] = {"name": self.string(struct.unpack("<Q", self.uc.mem_read(c.arg(0), 8))[0]),
                             "new": c.arg(1), "size": c.arg(3), "args": c.arg(5) & 0xFFFFFFFF,
                             "methods": {}, "mainsignalin": None}
        c.set_result(cls)

    def api_class_new64(self):
        self.api_class_new(True)

    def api_class_addmethod(self):
        c = self.cpu
        sel = self.string(struct.unpack("<Q", self.uc.mem_read(c.arg(2), 8))[0])
        args, k = [c.arg(3) & 0xFFFFFFFF], 0
        while args[-1] != A_NULL:
            args.append(c.vararg(4, k) & 0xFFFFFFFF)
            k += 1
        self.classes[c.arg(0)]["methods"][sel] = (c.arg(1), args[:-1])

    def api_class_domainsignalin(self):
        self.classes[self.cpu.arg(0)]["mainsignalin"] = self.cpu.arg(1) & 0xFFFFFFFF

    def api_pd_new(self):
        cls = self.cpu.arg(0)
        x = self.alloc(self.classes[cls]["size"], struct.pack("<Q", cls))
        self.inlets[x], self.outlets[x] = [], 0
        self.cpu.set_result(x)

    def api_inlet_new(self):
        c = self.cpu
        self.inlets[c.arg(0)].append(self.string(struct.unpack("<Q", self.uc.mem_read(c.arg(3), 8))[0]))
        c.set_result(self.alloc(16))

    def api_outlet_new(self):
        self.outlets[self.cpu.arg(0)] += 1
        self.cpu.set_result(self.alloc(16))

    def api_dsp_add(self):
        c = self.cpu
        n = c.arg(1) & 0xFFFFFFFF
        self.chain.append([c.arg(0)] + [c.vararg(2, k) for k in range(n)])

    def api_sys_getsr(self):
        self.cpu.set_fresult(self.sr, self.double)

    def api_post(self):
        self.posts.append(self.string(self.cpu.arg(0)))

    # The C library.
    def api_memcpy(self):
        c = self.cpu
        self.uc.mem_write(c.arg(0), bytes(self.uc.mem_read(c.arg(1), c.arg(2))))
        c.set_result(c.arg(0))

    def api_memset(self):
        c = self.cpu
        self.uc.mem_write(c.arg(0), bytes([c.arg(1) & 0xFF]) * c.arg(2))
        c.set_result(c.arg(0))

    def api_exp(self):
        self.cpu.set_fresult(libm.exp(self.cpu.farg(True)), True)

    def api_sin(self):
        self.cpu.set_fresult(libm.sin(self.cpu.farg(True)), True)


def read_cases(path):
    data = open(path, "rb").read()
    if data[:8] != b"TAVCASES":
        raise SystemExit("%s is not a case file" % path)
    at = 8

    def u32():
        nonlocal at
        at += 4
        return struct.unpack_from("<I", data, at - 4)[0]

    def f():
        nonlocal at
        at += 4
        return struct.unpack_from("<f", data, at - 4)[0]

    def text():
        nonlocal at
        n = u32()
        at += n
        return data[at - n:at].decode()

    def floats():
        nonlocal at
        n = u32()
        at += 4 * n
        return list(struct.unpack_from("<%dI" % n, data, at - 4 * n))

    cases = []
    for _ in range(u32()):
        c = {"cls": text(), "sr": f(), "block": u32(), "in_place": bool(u32())}
        c["settings"] = [(u32(), text(), f()) for _ in range(u32())]
        c["input"] = floats()
        c["outputs"] = [floats() for _ in range(u32())]
        c["raised"] = bool(u32())
        cases.append(c)
    return cases


def run_case(image, double, case):
    """The outlets' sample bits and whether a subnormal flag was raised, or a fault."""
    pd = Pd(image, double)
    pd.sr = case["sr"]  # Pd's rate, which the signals carry too
    stem = case["cls"].replace("~", "_tilde")
    pd.cpu.call(pd.exports[stem + "_setup"])
    if len(pd.classes) != 1:
        return "registered %d classes" % len(pd.classes)
    cls, info = next(iter(pd.classes.items()))
    if info["name"] != case["cls"] or info["args"] != A_NULL:
        return "registered %s with creation arguments %s" % (info["name"], info["args"])
    x = pd.cpu.call(info["new"])
    inlets = pd.inlets[x]
    for inlet, selector, value in case["settings"]:
        if inlet:
            selector = inlets[inlet - 1]
        fn, args = info["methods"][selector]
        if args != [A_FLOAT]:
            return "%s takes %s" % (selector, args)
        pd.cpu.call(fn, [x], [value], double)
    n, sample = case["block"], pd.sample
    outlets = pd.outlets[x]
    vectors = [pd.alloc(n * sample) for _ in range(1 + outlets)]
    if case["in_place"]:
        vectors[1] = vectors[0]
    signals = [pd.alloc(96, struct.pack("<iiQ", n, 0, v) + (struct.pack("<d", pd.sr) if double else struct.pack("<f", pd.sr)))
               for v in vectors]
    sp = pd.alloc(8 * len(signals), struct.pack("<%dQ" % len(signals), *signals))
    fn, args = info["methods"]["dsp"]
    if args != [A_CANT]:
        return "dsp takes %s" % args
    pd.cpu.call(fn, [x, sp])
    chain = [(entry[0], pd.alloc(8 * len(entry), struct.pack("<%dQ" % len(entry), *entry))) for entry in pd.chain]
    if not chain:
        return "dsp added no perform routine"
    samples = case["input"] + [0] * (-len(case["input"]) % n)
    outs = [[] for _ in range(outlets)]
    raised = False
    unwritten = struct.pack("<I", UNWRITTEN) if not double else struct.pack("<d", f32(UNWRITTEN))
    for start in range(0, len(samples), n):
        block = samples[start:start + n]
        if double:
            pd.uc.mem_write(vectors[0], struct.pack("<%dd" % n, *(f32(b) for b in block)))
        else:
            pd.uc.mem_write(vectors[0], struct.pack("<%dI" % n, *block))
        for v in vectors[1 + case["in_place"]:]:
            pd.uc.mem_write(v, unwritten * n)
        for perform, w in chain:
            pd.cpu.clear_flags()
            after = pd.cpu.call(perform, [w])
            raised |= bool(pd.cpu.flags())
            if after != w + 8 * len(pd.chain[0]):
                return "perform returned the wrong position"
        for k in range(outlets):
            raw = bytes(pd.uc.mem_read(vectors[1 + k], n * sample))
            if double:
                wide = struct.unpack("<%dQ" % n, raw)
                for w in wide:
                    narrow = narrowed(w)
                    if narrow is None:
                        return "outlet %d wrote %r, which is not a float widened" % (k, f64(w))
                    outs[k].append(narrow)
            else:
                outs[k].extend(struct.unpack("<%dI" % n, raw))
    return [o[:len(case["input"])] for o in outs], raised


def narrowed(w):
    """The float whose widening is the double w (any NaN for a NaN), or None."""
    try:
        b = bits32(f64(w))
    except OverflowError:
        return None
    return b if bits64(f32(b)) == w or f64(w) != f64(w) else None


def is_nan(b):
    return (b & 0x7F800000) == 0x7F800000 and b & 0x7FFFFF


def compare(case, result):
    if isinstance(result, str):
        return result
    outs, raised = result
    if len(outs) != len(case["outputs"]):
        return "%d outlets, Linux %d" % (len(outs), len(case["outputs"]))
    for k, (got, want) in enumerate(zip(outs, case["outputs"])):
        for i, (g, w) in enumerate(zip(got, want)):
            if g != w and not (is_nan(g) and is_nan(w)):
                return "outlet %d sample %d: %08x, Linux %08x (%r, %r)" % (k, i, g, w, f32(g), f32(w))
    if raised and not case["raised"]:
        return "raised the underflow flag (flushing off) where the Linux plug-in raised none"
    return None


def main(case_file, folder):
    cases = read_cases(case_file)
    status = 0
    started = time.time()
    bundles = sorted(glob.glob(os.path.join(folder, "*.darwin-*.so")))
    if not bundles:
        print("emulate.py: no macOS bundles in %s" % folder)
        return 1
    count = 0
    for path in bundles:
        name = os.path.basename(path)
        cls = name.split(".darwin-")[0]
        double = name.endswith("-64.so")
        image = macho.Image(open(path, "rb").read())
        mine = [c for c in cases if c["cls"] == cls]
        if not mine:
            print("%s: no cases" % path)
            status = 1
            continue
        failed = 0
        for case in mine:
            try:
                fault = compare(case, run_case(image, double, case))
            except (UcError, RuntimeError, KeyError, MemoryError) as e:
                fault = "%s: %s" % (type(e).__name__, e)
            count += 1
            if fault:
                print("%s at %g Hz, block %d%s, settings %s: %s" % (name, case["sr"], case["block"],
                      " in place" if case["in_place"] else "", case["settings"], fault))
                failed += 1
        status |= failed > 0
        print("%s: %d cases%s" % (path, len(mine), ", %d FAILED" % failed if failed else ", every bit as on Linux"))
    print("emulate.py: %d runs of %d bundles in %.0f s" % (count, len(bundles), time.time() - started))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
