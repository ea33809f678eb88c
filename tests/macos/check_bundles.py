#!/usr/bin/python3
# check_bundles.py FOLDER: every macOS plug-in in FOLDER (<class>.darwin-<cpu>-<size>.so and
# the fat <class>.d_fat) is a Mach-O bundle of the cpu, minimum macOS and float size its
# name says; it exports exactly the class's setup entry and the extra symbols the build
# lists for the class, and imports only Pd's API (looked up in the Pd that loads it) and
# C library functions from libSystem; its code holds no fused multiply-add; an arm64 slice
# carries an ad-hoc signature whose every page hash is right; the fat file's slices are
# the thin bundles byte for byte. Prints one line per file, fails on the first fault of each.
import glob
import hashlib
import os
import re
import struct
import subprocess
import sys

import macho

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
MIN_OS = {"x86_64": 0x000A0900, "arm64": 0x000B0000}  # 10.9, 11.0
CPU_OF = {"amd64": "x86_64", "arm64": "arm64"}
# a * b + c in one rounding: arm64's fused forms, and x86's FMA3/FMA4 should one appear.
FUSED = re.compile(r"^\s*[0-9a-f]+:\s+(fn?madd|fn?msub|fmla|fmls|fmlal2?|fmlsl2?|vfn?m(add|sub)\w*)\s", re.M)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def expected_exports():
    """{class: exports} from the build's add_pd_external lines."""
    text = read(os.path.join(ROOT, "CMakeLists.txt")).decode()
    out = {}
    for cls, rest in re.findall(r"^add_pd_external\((\S+) \S+(.*)\)", text, re.M):
        extra = rest.split("EXPORTS", 1)[1].split() if "EXPORTS" in rest else []
        out[cls] = {"_" + cls.replace("~", "_tilde_setup")} | {"_" + e for e in extra}
    return out


def allowed_imports():
    """(Pd's API, the C library's functions) as the Linux symbol check and the stub list them."""
    shell = read(os.path.join(ROOT, "tests", "check-symbols.sh")).decode()
    allowed = set(re.search(r"allowed_undefined='([^']*)'", shell).group(1).split())
    stub = read(os.path.join(ROOT, "macos", "libSystem.tbd")).decode()
    libc = {s.lstrip("_") for s in re.search(r"symbols:\s*\[([^\]]*)\]", stub).group(1).replace(",", " ").split()}
    return allowed - libc, (allowed & libc) | {"dyld_stub_binder"}


def check_signature(image, fail):
    """The ad-hoc signature ld64.lld writes: a code directory with one SHA-256 per page."""
    if image.signature is None:
        return fail("no code signature")
    dataoff, datasize = image.signature
    blob = image.data[dataoff:dataoff + datasize]
    magic, _, count = struct.unpack_from(">III", blob, 0)
    if magic != 0xFADE0CC0:
        return fail("the signature is not a superblob")
    index = [struct.unpack_from(">II", blob, 12 + 8 * k) for k in range(count)]
    directories = [off for kind, off in index if kind == 0]
    if len(directories) != 1:
        return fail("the signature holds %d code directories" % len(directories))
    cd = directories[0]
    (magic, _, _, flags, hash_off, ident_off, _, n_code, code_limit,
     hash_size, hash_type, _, page_log) = struct.unpack_from(">IIIIIIIIIBBBB", blob, cd)
    if magic != 0xFADE0C02:
        return fail("no code directory")
    if not flags & 0x2:
        return fail("the signature is not ad hoc")
    if hash_type != 2 or hash_size != 32:
        return fail("the page hashes are not SHA-256")
    if code_limit != dataoff:
        return fail("the signature covers %d bytes, not the %d before it" % (code_limit, dataoff))
    page = 1 << page_log
    if n_code != (code_limit + page - 1) // page:
        return fail("%d page hashes for %d bytes" % (n_code, code_limit))
    for k in range(n_code):
        want = blob[cd + hash_off + 32 * k:cd + hash_off + 32 * (k + 1)]
        got = hashlib.sha256(image.data[k * page:min((k + 1) * page, code_limit)]).digest()
        if want != got:
            return fail("page %d's hash is wrong" % k)
    return True


def check_image(image, cpu, size, exports, fail):
    pd_api, libc = allowed_imports()
    if image.filetype != macho.MH_BUNDLE:
        return fail("not a bundle")
    if image.arch != cpu:
        return fail("holds %s code, its name says %s" % (image.arch, cpu))
    if image.min_os != MIN_OS[cpu]:
        return fail("minimum macOS %#x" % (image.min_os or 0))
    if image.dylibs != ["/usr/lib/libSystem.B.dylib"]:
        return fail("links %s" % image.dylibs)
    got = set(image.exports())
    if got != exports:
        return fail("exports %s, expected %s" % (sorted(got), sorted(exports)))
    names = set()
    for _, name, ordinal, _ in image.imports():
        bare = name[1:] if name.startswith("_") else name
        ok = bare in pd_api if ordinal == macho.FLAT_LOOKUP else ordinal == 1 and bare in libc
        if not ok:
            return fail("imports %s (library %d), neither Pd's API nor the C library's" % (name, ordinal))
        names.add(bare)
    sizes = {n: s for n, s in (("class_new", 32), ("class_new64", 64)) if n in names}
    if list(sizes.values()) != [size]:
        return fail("registers through %s, its name says %d-bit floats" % (sorted(sizes), size))
    if cpu == "arm64" and not check_signature(image, fail):
        return False
    return True


def main(folder):
    exports = expected_exports()
    status = 0
    plugins = sorted(glob.glob(os.path.join(folder, "*.darwin-*.so")) + glob.glob(os.path.join(folder, "*.d_fat")))
    if not plugins:
        print("check_bundles.py: no macOS plug-ins in %s" % folder)
        return 1
    for path in plugins:
        name = os.path.basename(path)
        bad = []
        fail = lambda why: bad.append(why) and False
        cls, ext = name.split("~.", 1)
        cls += "~"
        data = read(path)
        try:
            if ext == "d_fat":
                parts = macho.slices(data)
                thin = {cpu: os.path.join(folder, "%s.darwin-%s-32.so" % (cls, tag)) for tag, cpu in CPU_OF.items()}
                if sorted(macho.Image(p).arch for _, p in parts) != sorted(thin):
                    fail("a fat file of %s, not of x86_64 and arm64" %
                         sorted(macho.Image(p).arch for _, p in parts))
                for _, part in parts:
                    if not bad and part != read(thin[macho.Image(part).arch]):
                        fail("its %s slice is not %s" % (macho.Image(part).arch, thin[macho.Image(part).arch]))
            else:
                m = re.fullmatch(r"darwin-(amd64|arm64)-(32|64)\.so", ext)
                if not m or len(macho.slices(data)) != 1:
                    fail("a name Pd does not load, or a fat file under a thin name")
                else:
                    cpu = CPU_OF[m.group(1)]
                    check_image(macho.Image(data), cpu, int(m.group(2)), exports[cls], fail)
                    listing = subprocess.run(["llvm-objdump-14", "-d", "--no-show-raw-insn", path],
                                             capture_output=True, text=True, check=True).stdout
                    if "Disassembly of section __TEXT,__text" not in listing:
                        fail("has no code")
                    fused = FUSED.findall(listing)
                    if fused:
                        fail("fused multiply-add: %s" % sorted({f[0] for f in fused}))
        except (macho.BadFile, struct.error, ValueError) as e:
            fail(str(e))
        if bad:
            print("%s: %s" % (path, bad[0]))
            status = 1
        else:
            print("%s: as its name says" % path)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
