"""A small installer transform written from scratch: no tool here makes one (msitools has
none, and Wine's MsiDatabaseGenerateTransform is a stub). It adds Property rows, the
commonest thing an administrator's transform does, so that an installation with it takes
the path a transformed session takes.

The file is a compound file (version 3, 512-byte sectors) whose root has the transform's
class and three streams, all in the mini stream: the string pool, its data, and the
Property table's changes, each row an insert of both columns (mask 0x0201) with 2-byte
string references.
"""

import struct

# {000C1082-0000-0000-C000-000000000046} as stored (the first three fields little-endian).
CLSID_TRANSFORM = struct.pack("<IHH", 0x000C1082, 0, 0) + bytes([0xC0, 0, 0, 0, 0, 0, 0, 0x46])

FREE, END, FATSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF
CHARSET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def table_stream_name(name):
    """The installer's encoding of a table's stream name: a 0x4840 mark, then two name
    characters to a code unit where both are of its 64."""
    out, i = [0x4840], 0
    while i < len(name):
        a = CHARSET.find(name[i])
        b = CHARSET.find(name[i + 1]) if i + 1 < len(name) else -1
        if a >= 0 and b >= 0:
            out.append(0x3800 + a + (b << 6))
            i += 2
        elif a >= 0:
            out.append(0x4800 + a)
            i += 1
        else:
            out.append(ord(name[i]))
            i += 1
    return "".join(chr(c) for c in out)


def _key(name):
    return (len(name), name.upper())


def _tree(ids, names):
    """A balanced binary tree over the entries in the order readers search it (shorter
    names first, then by upper case); returns the root's id."""
    order = sorted(ids, key=lambda i: _key(names[i]))
    links = {}

    def build(lo, hi):
        if lo >= hi:
            return NOSTREAM
        mid = (lo + hi) // 2
        links[order[mid]] = (build(lo, mid), build(mid + 1, hi))
        return order[mid]

    return build(0, len(order)), links


def compound_file(streams, clsid):
    """{name: bytes} (each under 4096 bytes) as a compound file whose root has `clsid`."""
    names = ["Root Entry"] + list(streams)
    datas = [b""] + list(streams.values())
    mini, minifat, starts = bytearray(), [], [END]
    for data in datas[1:]:
        assert len(data) < 4096
        first = len(minifat)
        count = (len(data) + 63) // 64
        starts.append(first if count else END)
        for k in range(count):
            minifat.append(first + k + 1 if k + 1 < count else END)
        mini += data + b"\0" * (count * 64 - len(data))
    # Sectors: 0 the FAT, then the directory, the mini FAT, the mini stream.
    dir_sectors = (len(names) + 3) // 4
    minifat_sectors = max(1, (len(minifat) + 127) // 128)
    mini_sectors = (len(mini) + 511) // 512
    first_dir, first_minifat = 1, 1 + dir_sectors
    first_mini = first_minifat + minifat_sectors
    total = first_mini + mini_sectors
    assert total <= 128
    fat = [FREE] * 128
    fat[0] = FATSECT
    for start, count in ((first_dir, dir_sectors), (first_minifat, minifat_sectors), (first_mini, mini_sectors)):
        for k in range(count):
            fat[start + k] = start + k + 1 if k + 1 < count else END

    root_child, links = _tree(range(1, len(names)), names)
    directory = bytearray()
    for i, name in enumerate(names):
        encoded = name.encode("utf-16-le") + b"\0\0"
        assert len(encoded) <= 64
        left, right = links.get(i, (NOSTREAM, NOSTREAM))
        if i == 0:
            kind, child, start, size, cls = 5, root_child, first_mini if mini else END, len(mini), clsid
        else:
            kind, child, start, size, cls = 2, NOSTREAM, starts[i], len(datas[i]), b"\0" * 16
        directory += encoded + b"\0" * (64 - len(encoded))
        directory += struct.pack("<HBBIII", len(encoded), kind, 1, left, right, child)
        directory += cls + b"\0" * 4 + b"\0" * 16 + struct.pack("<IQ", start, size)
    while len(directory) % 512:
        directory += b"\0" * 64 + struct.pack("<HBBIII", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 52
    minifat_bytes = struct.pack("<%dI" % len(minifat), *minifat) if minifat else b""
    minifat_bytes += b"\xff" * (minifat_sectors * 512 - len(minifat_bytes))

    header = bytearray(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 16)
    header += struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6
    header += struct.pack("<IIIIIIIII", 0, 1, first_dir, 0, 4096, first_minifat, minifat_sectors, END, 0)
    header += struct.pack("<I", 0) + b"\xff" * (4 * 108)
    assert len(header) == 512
    body = struct.pack("<128I", *fat) + bytes(directory) + minifat_bytes + bytes(mini)
    body += b"\0" * ((-len(body)) % 512)
    return bytes(header) + body


def property_transform(rows, codepage=1252):
    """A transform that adds the Property rows `rows` ({name: value}, text in `codepage`)."""
    strings = []
    for name, value in rows.items():
        for s in (name, value):
            if s not in strings:
                strings.append(s)
    if len(strings) >= 0x10000:
        raise ValueError("too many strings for 2-byte references")
    pool = struct.pack("<HH", codepage & 0xFFFF, codepage >> 16)
    data = b""
    for s in strings:
        raw = s.encode("cp%d" % codepage)
        pool += struct.pack("<HH", len(raw), 1)
        data += raw
    table = b""
    for name, value in rows.items():
        table += struct.pack("<HHH", 0x0201, strings.index(name) + 1, strings.index(value) + 1)
    return compound_file({table_stream_name("_StringPool"): pool, table_stream_name("_StringData"): data,
                          table_stream_name("Property"): table}, CLSID_TRANSFORM)
