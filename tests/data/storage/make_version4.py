"""Writes version4.cfb: a compound file of format version 4 (4096-byte sectors), which
our engine never writes but must read and change. Written from the format description
with the standard library only; run once, the output is kept beside this script.

Content: stream "Big" (5000 bytes of (i * 7) & 255), storage "Folder" holding stream
"Inner" (b"inner stream"), stream "Small" (100 bytes of (i * 3) & 255)."""
import struct
import sys

SECTOR = 4096
FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
NOSTREAM = 0xFFFFFFFF

big = bytes((i * 7) & 255 for i in range(5000))
small = bytes((i * 3) & 255 for i in range(100))
inner = b"inner stream"

# Sectors: 0 FAT, 1 directory, 2 MiniFAT, 3 mini stream, 4-5 "Big".
mini = bytearray(SECTOR)
mini[0:len(small)] = small            # mini sectors 0-1
mini[128:128 + len(inner)] = inner    # mini sector 2
minifat = [1, END, END] + [FREE] * (SECTOR // 4 - 3)
fat = [FATSECT, END, END, END, 5, END] + [FREE] * (SECTOR // 4 - 6)


def entry(name, kind, color, left, right, child, start, size):
    raw = name.encode("utf-16-le") + b"\0\0" if name else b""
    return (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw), kind, color) +
            struct.pack("<III", left, right, child) + b"\0" * 16 + struct.pack("<I", 0) +
            b"\0" * 16 + struct.pack("<IQ", start, size))


# Children of the root in the format's order: Big, Small, Folder (shorter names first).
entries = [
    entry("Root Entry", 5, 1, NOSTREAM, NOSTREAM, 2, 3, 3 * 64),   # 0
    entry("Big", 2, 1, NOSTREAM, NOSTREAM, NOSTREAM, 4, len(big)),  # 1
    entry("Small", 2, 1, 1, 3, NOSTREAM, 0, len(small)),            # 2, the tree's root
    entry("Folder", 1, 1, NOSTREAM, NOSTREAM, 4, 0, 0),             # 3
    entry("Inner", 2, 1, NOSTREAM, NOSTREAM, NOSTREAM, 2, len(inner)),  # 4
]
unused = entry("", 0, 0, NOSTREAM, NOSTREAM, NOSTREAM, 0, 0)
directory = b"".join(entries) + unused * (SECTOR // 128 - len(entries))

header = bytearray(SECTOR)
header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
struct.pack_into("<HHHHH", header, 24, 0x3E, 4, 0xFFFE, 12, 6)
struct.pack_into("<IIIIIIIII", header, 40, 1, 1, 1, 0, 4096, 2, 1, END, 0)
for i in range(109):
    struct.pack_into("<I", header, 76 + 4 * i, 0 if i == 0 else FREE)

out = bytes(header)
out += b"".join(struct.pack("<I", v) for v in fat)
out += directory
out += b"".join(struct.pack("<I", v) for v in minifat)
out += bytes(mini)
out += big.ljust(2 * SECTOR, b"\0")
with open(sys.argv[1] if len(sys.argv) > 1 else "version4.cfb", "wb") as f:
    f.write(out)
