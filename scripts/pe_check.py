#!/usr/bin/env python3
"""Reads what a security review reads first in a built Windows PE file and says what is
missing: the version resource (file and product version, company, product, description,
original file name, copyright) and the hardening bits (ASLR, DEP, 64-bit high-entropy
ASLR, no section both writable and executable).

usage: pe_check.py FILE --version X.Y.Z.W [--name ORIGINAL]   exit 0 ok, 1 a finding
       pe_check.py FILE --show                                  print what was read
"""
import argparse
import os
import struct
import sys

DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x0040, 0x0100, 0x0020
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
RT_VERSION = 16
STRING_KEYS = ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
               "OriginalFilename", "ProductName", "ProductVersion")


class PeError(Exception):
    pass


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("not a PE file (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE file (no PE signature)")
        coff = pe + 4
        _, nsections, self.timestamp, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header 0x%x" % magic)
        self.pe64 = magic == 0x20B
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        ndirs_at = opt + (108 if self.pe64 else 92)
        ndirs = struct.unpack_from("<I", data, ndirs_at)[0]
        self.dirs = [struct.unpack_from("<II", data, ndirs_at + 4 + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            at = opt + opt_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name, va, max(vsize, rawsize), rawptr, rawsize, flags))

    def offset(self, rva):
        for _, va, size, rawptr, rawsize, _ in self.sections:
            if va <= rva < va + size and rva - va < rawsize:
                return rawptr + rva - va
        raise PeError("address 0x%x lies in no section" % rva)

    def version_resource(self):
        """The bytes of the first RT_VERSION resource, or None."""
        if len(self.dirs) < 3 or not self.dirs[2][0]:
            return None
        root = self.offset(self.dirs[2][0])

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, directory + 16 + 8 * i)

        for ident, to in entries(root):
            if ident != RT_VERSION or not to & 0x80000000:
                continue
            node = root + (to & 0x7FFFFFFF)
            # type -> name -> language -> data entry: take the first at each level
            while True:
                first = next(entries(node), None)
                if first is None:
                    return None
                to = first[1]
                if not to & 0x80000000:
                    rva, size = struct.unpack_from("<II", self.data, root + to)
                    at = self.offset(rva)
                    return self.data[at:at + size]
                node = root + (to & 0x7FFFFFFF)
        return None


def _align(n):
    return (n + 3) & ~3


def _block(data, at):
    """One VS_VERSIONINFO-style block: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = _align(key_end + 2)
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_size]
    children = []
    child = _align(value_at + value_size)
    while child < end and struct.unpack_from("<H", data, child)[0]:
        node = _block(data, child)
        children.append(node)
        child = _align(node[4])
    return key, value, value_type, children, end


def version_info(resource):
    """(file version, product version, {string key: value}) of a version resource."""
    key, value, _, children, _ = _block(resource, 0)
    if key != "VS_VERSION_INFO" or len(value) < 52:
        raise PeError("malformed version resource")
    sig, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", value, 0)
    if sig != 0xFEEF04BD:
        raise PeError("version resource without VS_FIXEDFILEINFO")
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for ckey, _, _, tables, _ in children:
        if ckey != "StringFileInfo":
            continue
        for _, _, _, entries, _ in tables:
            for skey, svalue, _, _, _ in entries:
                strings.setdefault(skey, svalue.decode("utf-16-le").rstrip("\0"))
    return dotted(fms, fls), dotted(pms, pls), strings


def findings(pe, version, name):
    out = []
    need = [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT")]
    if pe.pe64:
        need.append((HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"))
    for bit, what in need:
        if not pe.dll_characteristics & bit:
            out.append("no %s" % what)
    for sname, _, _, _, _, flags in pe.sections:
        if flags & SCN_MEM_EXECUTE and flags & SCN_MEM_WRITE:
            out.append("section %s is both writable and executable" % sname)
    resource = pe.version_resource()
    if resource is None:
        out.append("no version resource")
        return out
    fixed_file, fixed_product, strings = version_info(resource)
    for what, got in (("file version", fixed_file), ("product version", fixed_product),
                      ("FileVersion", strings.get("FileVersion")), ("ProductVersion", strings.get("ProductVersion"))):
        if got != version:
            out.append("%s %s, expected %s" % (what, got, version))
    for key in STRING_KEYS:
        if not strings.get(key):
            out.append("version resource lacks %s" % key)
    if name and strings.get("OriginalFilename", "").lower() != name.lower():
        out.append("OriginalFilename %r, expected %r" % (strings.get("OriginalFilename"), name))
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("file")
    ap.add_argument("--version", help="the version every version field must carry")
    ap.add_argument("--name", help="the OriginalFilename expected (default: the file's name)")
    ap.add_argument("--show", action="store_true")
    args = ap.parse_args(argv)
    with open(args.file, "rb") as f:
        data = f.read()
    try:
        pe = Pe(data)
        if args.show:
            print("PE32+" if pe.pe64 else "PE32", "DllCharacteristics 0x%04x" % pe.dll_characteristics,
                  "TimeDateStamp %d" % pe.timestamp)
            resource = pe.version_resource()
            if resource is not None:
                fixed_file, fixed_product, strings = version_info(resource)
                print("FILEVERSION", fixed_file, "PRODUCTVERSION", fixed_product)
                for k, v in sorted(strings.items()):
                    print("%s=%s" % (k, v))
            return 0
        if not args.version:
            ap.error("--version is required unless --show")
        found = findings(pe, args.version, args.name or os.path.basename(args.file))
    except (PeError, struct.error, UnicodeDecodeError, IndexError) as e:
        found = ["cannot be read: %s" % e]
    for f in found:
        print("FAIL: %s: %s" % (args.file, f))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
