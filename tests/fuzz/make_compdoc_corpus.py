"""Writes the damaged compound files of tests/fuzz/corpus/CompDoc from two sound ones:
one written by libgsf ("gsf createole") and one written by our engine.
Usage: make_compdoc_corpus.py THEIRS OURS OUTDIR"""
import os
import struct
import sys

theirs = open(sys.argv[1], "rb").read()
ours = open(sys.argv[2], "rb").read()
out = sys.argv[3]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def put32(data, at, value):
    struct.pack_into("<I", data, at, value)


def entry_offset(data, index):
    sector = u32(data, 48)
    fat0 = u32(data, 76)
    for _ in range(index // 4):
        sector = u32(data, (fat0 + 1) * 512 + 4 * sector)
    return (sector + 1) * 512 + 128 * (index % 4)


def find_entry(data, name):
    for index in range(64):
        at = entry_offset(data, index)
        if at + 128 > len(data):
            break
        length = struct.unpack_from("<H", data, at + 64)[0]
        if 2 <= length <= 64 and data[at:at + length - 2].decode("utf-16-le", "replace") == name:
            return at
    raise SystemExit("no entry " + name)


def fat_offset(data, sector):
    return (u32(data, 76) + 1) * 512 + 4 * sector


def variant(name, base, change):
    data = bytearray(base)
    change(data)
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes(data))


os.makedirs(out, exist_ok=True)
variant("theirs-sound.cfb", theirs, lambda d: None)
variant("ours-sound.cfb", ours, lambda d: None)
variant("truncated.cfb", theirs[:700], lambda d: None)
variant("header-only.cfb", theirs[:512], lambda d: None)
variant("wrong-signature.cfb", theirs, lambda d: d.__setitem__(0, 0x50))
variant("sector-shift-30.cfb", theirs, lambda d: struct.pack_into("<H", d, 30, 30))
variant("mini-shift-12.cfb", theirs, lambda d: struct.pack_into("<H", d, 32, 12))


def fat_loop(d):
    start = u32(d, find_entry(d, "Big") + 116)
    put32(d, fat_offset(d, start + 3), start)


variant("fat-chain-loop.cfb", theirs, fat_loop)
variant("stream-claims-4gb.cfb", theirs, lambda d: put32(d, find_entry(d, "Big") + 120, 0xFFFFFFF0))
variant("small-stream-claims-4000.cfb", theirs,
        lambda d: put32(d, find_entry(d, "Small") + 120, 4000))


def sibling_cycle(d):
    at = find_entry(d, "Small")
    put32(d, at + 68, (at % 512) // 128)  # points at itself or a neighbour


variant("sibling-cycle.cfb", theirs, sibling_cycle)
variant("child-is-root.cfb", theirs, lambda d: put32(d, find_entry(d, "Folder") + 76, 0))
variant("directory-loop.cfb", theirs, lambda d: put32(d, fat_offset(d, u32(d, 48)), u32(d, 48)))
variant("fat-sector-count-huge.cfb", theirs, lambda d: put32(d, 44, 0x7FFFFFFF))


def difat_loop(d):
    put32(d, 44, 200)
    put32(d, 68, 1)
    put32(d, 72, 2)
    put32(d, (1 + 1) * 512 + 508, 1)


variant("difat-loop.cfb", theirs, difat_loop)


def minifat_loop(d):
    first = u32(d, 60)
    put32(d, fat_offset(d, first), first)


variant("minifat-loop.cfb", ours, minifat_loop)
variant("ours-root-not-root.cfb", ours, lambda d: d.__setitem__(entry_offset(d, 0) + 66, 1))


def garbage_after_header(d):
    seed = 12345
    for i in range(512, len(d)):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        d[i] = seed >> 16 & 0xFF


variant("garbage-body.cfb", ours, garbage_after_header)


def entry_types_scrambled(d):
    for index in range(1, 12):
        at = entry_offset(d, index)
        if at + 128 <= len(d):
            d[at + 66] = (index * 3) % 7


variant("entry-types-scrambled.cfb", ours, entry_types_scrambled)
