# Reads what the macOS checks and the emulator need from a Mach-O bundle: its slices (one,
# or several in a fat file), each slice's segments and sections, the rebase and bind
# information dyld applies when it loads the bundle, its exports and its code signature.
import struct

CPU_X86_64, CPU_ARM64 = 0x01000007, 0x0100000C
CPU_NAMES = {CPU_X86_64: "x86_64", CPU_ARM64: "arm64"}
MH_BUNDLE = 8
LC_SEGMENT_64, LC_SYMTAB, LC_LOAD_DYLIB, LC_CODE_SIGNATURE = 0x19, 0x2, 0xC, 0x1D
LC_DYLD_INFO_ONLY, LC_DYLD_CHAINED_FIXUPS, LC_DYLD_EXPORTS_TRIE = 0x80000022, 0x80000034, 0x80000033
LC_BUILD_VERSION, LC_VERSION_MIN_MACOSX = 0x32, 0x24
FLAT_LOOKUP = -2  # the library ordinal of a symbol looked up in every loaded image


class BadFile(Exception):
    pass


def slices(data):
    """(offset, bytes) of every Mach-O image in a thin or fat file."""
    if data[:4] == b"\xca\xfe\xba\xbe":
        count = struct.unpack_from(">I", data, 4)[0]
        out = []
        for k in range(count):
            _, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * k)
            out.append((offset, data[offset:offset + size]))
        return out
    return [(0, data)]


def uleb(data, at, signed=False):
    """A LEB128 number at `at`, and where the next field starts."""
    value = shift = 0
    while True:
        b = data[at]
        at += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if b < 0x80:
            if signed and b & 0x40:
                value -= 1 << shift
            return value, at


def sleb(data, at):
    return uleb(data, at, True)


def cstring(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode(), end + 1


class Image:
    def __init__(self, data):
        self.data = data
        magic, self.cpu, _, self.filetype, ncmds, _, self.flags = struct.unpack_from("<IiiIIII", data, 0)
        if magic != 0xFEEDFACF:
            raise BadFile("not a 64-bit Mach-O image")
        self.segments, self.sections, self.dylibs, self.commands = [], [], [], []
        self.dyld_info = self.signature = self.min_os = None
        at = 32
        for _ in range(ncmds):
            cmd, size = struct.unpack_from("<II", data, at)
            self.commands.append(cmd)
            if cmd == LC_SEGMENT_64:
                name = data[at + 8:at + 24].rstrip(b"\0").decode()
                vmaddr, vmsize, fileoff, filesize, _, initprot, nsects, _ = struct.unpack_from("<QQQQiiII", data, at + 24)
                self.segments.append((name, vmaddr, vmsize, fileoff, filesize, initprot))
                for k in range(nsects):
                    s = at + 72 + 80 * k
                    sect = data[s:s + 16].rstrip(b"\0").decode()
                    addr, ssize, offset = struct.unpack_from("<QQI", data, s + 32)
                    self.sections.append((name, sect, addr, ssize, offset))
            elif cmd == LC_DYLD_INFO_ONLY:
                self.dyld_info = struct.unpack_from("<10I", data, at + 8)
            elif cmd == LC_CODE_SIGNATURE:
                self.signature = struct.unpack_from("<II", data, at + 8)
            elif cmd == LC_LOAD_DYLIB:
                self.dylibs.append(cstring(data, at + struct.unpack_from("<I", data, at + 8)[0])[0])
            elif cmd == LC_BUILD_VERSION:
                self.min_os = struct.unpack_from("<I", data, at + 12)[0]
            elif cmd == LC_VERSION_MIN_MACOSX:
                self.min_os = struct.unpack_from("<I", data, at + 8)[0]
            at += size
        if LC_DYLD_CHAINED_FIXUPS in self.commands:
            raise BadFile("chained fixups: this reader knows dyld's rebase and bind opcodes only")
        if self.dyld_info is None:
            raise BadFile("no dyld information")

    @property
    def arch(self):
        return CPU_NAMES.get(self.cpu, hex(self.cpu))

    def segment_address(self, index):
        return self.segments[index][1]

    def rebases(self):
        """Addresses of the pointers dyld slides."""
        off, size = self.dyld_info[0], self.dyld_info[1]
        data, at, end = self.data, off, off + size
        seg = addr = 0
        out = []
        while at < end:
            byte = data[at]
            at += 1
            op, imm = byte & 0xF0, byte & 0x0F
            if op == 0x00:  # done
                break
            elif op == 0x10:  # set type
                if imm != 1:
                    raise BadFile("rebase of a kind other than a pointer")
            elif op == 0x20:  # segment and offset
                seg = imm
                addr, at = uleb(data, at)
                addr += self.segment_address(seg)
            elif op == 0x30:  # add address
                n, at = uleb(data, at)
                addr += n
            elif op == 0x40:
                addr += imm * 8
            elif op == 0x50:  # imm times
                for _ in range(imm):
                    out.append(addr)
                    addr += 8
            elif op == 0x60:  # uleb times
                n, at = uleb(data, at)
                for _ in range(n):
                    out.append(addr)
                    addr += 8
            elif op == 0x70:  # one, then skip
                out.append(addr)
                n, at = uleb(data, at)
                addr += 8 + n
            elif op == 0x80:  # times with skip
                n, at = uleb(data, at)
                skip, at = uleb(data, at)
                for _ in range(n):
                    out.append(addr)
                    addr += 8 + skip
            else:
                raise BadFile("unknown rebase opcode %#x" % byte)
        return out

    def binds(self, kind):
        """(address, symbol, library ordinal, addend) of one bind table: "bind", "weak" or "lazy"."""
        off, size = {"bind": self.dyld_info[2:4], "weak": self.dyld_info[4:6], "lazy": self.dyld_info[6:8]}[kind]
        data, at, end = self.data, off, off + size
        seg = addr = ordinal = addend = 0
        name = None
        out = []
        while at < end:
            byte = data[at]
            at += 1
            op, imm = byte & 0xF0, byte & 0x0F
            if op == 0x00:  # done (in the lazy table: the end of one entry)
                if kind != "lazy":
                    break
            elif op == 0x10:
                ordinal = imm
            elif op == 0x20:
                ordinal, at = uleb(data, at)
            elif op == 0x30:
                ordinal = imm - 16 if imm else 0
            elif op == 0x40:
                name, at = cstring(data, at)
            elif op == 0x50:
                if imm != 1:
                    raise BadFile("bind of a kind other than a pointer")
            elif op == 0x60:
                addend, at = sleb(data, at)
            elif op == 0x70:
                seg = imm
                addr, at = uleb(data, at)
                addr += self.segment_address(seg)
            elif op == 0x80:
                n, at = uleb(data, at)
                addr = (addr + n) & (2**64 - 1)
            elif op == 0x90:
                out.append((addr, name, ordinal, addend))
                addr += 8
            elif op == 0xA0:
                out.append((addr, name, ordinal, addend))
                n, at = uleb(data, at)
                addr += 8 + n
            elif op == 0xB0:
                out.append((addr, name, ordinal, addend))
                addr += 8 + imm * 8
            elif op == 0xC0:
                n, at = uleb(data, at)
                skip, at = uleb(data, at)
                for _ in range(n):
                    out.append((addr, name, ordinal, addend))
                    addr += 8 + skip
            else:
                raise BadFile("unknown bind opcode %#x" % byte)
        return out

    def imports(self):
        return self.binds("bind") + self.binds("weak") + self.binds("lazy")

    def exports(self):
        """{symbol: address} from the export trie."""
        off, size = self.dyld_info[8], self.dyld_info[9]
        trie = self.data[off:off + size]
        out = {}

        def walk(node, prefix):
            info_size, at = uleb(trie, node)
            if info_size:
                flags, p = uleb(trie, at)
                if flags & ~0x3:
                    raise BadFile("export of a kind other than a plain symbol")
                out[prefix], _ = uleb(trie, p)
            at += info_size
            children = trie[at]
            at += 1
            for _ in range(children):
                edge, at = cstring(trie, at)
                child, at = uleb(trie, at)
                walk(child, prefix + edge)

        if size:
            walk(0, "")
        return out

    def section(self, segment, name):
        for seg, sect, addr, size, offset in self.sections:
            if seg == segment and sect == name:
                return addr, size, offset
        return None
