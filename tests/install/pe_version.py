#!/usr/bin/env python3
"""Prints the version resource of a Windows binary: "FIXED STRING", the
file version of VS_FIXEDFILEINFO and the "FileVersion" text, read by
walking the PE resource directory (type 16, RT_VERSION)."""
import struct
import sys


def rva_to_offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return rva - va + raw
    raise ValueError("address outside every section")


def version_block(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    nsections, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, _ = struct.unpack_from("<II", data, dirs + 2 * 8)
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), raw))
    base = rva_to_offset(sections, rsrc_rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, base + offset + 16 + 8 * i)

    def first_leaf(offset):
        _, target = next(entries(offset))
        while target & 0x80000000:
            _, target = next(entries(target & 0x7FFFFFFF))
        rva, size = struct.unpack_from("<II", data, base + target)
        start = rva_to_offset(sections, rva)
        return data[start:start + size]

    for ident, target in entries(0):
        if ident == 16 and target & 0x80000000:
            return first_leaf(target & 0x7FFFFFFF)
    raise ValueError("no version resource")


def main():
    block = version_block(open(sys.argv[1], "rb").read())
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    fixed = block.index(key) + len(key)
    fixed += -fixed % 4
    sig, _, ms, ls = struct.unpack_from("<IIII", block, fixed)
    if sig != 0xFEEF04BD:
        raise ValueError("no fixed file information")
    numbers = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    name = "FileVersion\0".encode("utf-16-le")
    at = block.index(name) + len(name)
    at += -at % 4
    end = at
    while block[end:end + 2] not in (b"\0\0", b""):
        end += 2
    print(numbers, block[at:end].decode("utf-16-le"))


if __name__ == "__main__":
    main()
