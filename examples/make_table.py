#!/usr/bin/env python3
"""Writes QUORCNVT.INT from a prefix,extension CSV list.

    python3 make_table.py prefixes.csv QUORCNVT.INT

The file is a run of 26-byte records. Record 0 is the header: the number of
entries as a signed 16-bit little-endian integer, then 24 zero bytes. Each
entry is the key length (16), the prefix padded with spaces to 16 characters,
the extension's length, and the extension in 8 bytes (zero-filled).
"""
import csv
import struct
import sys


def build(rows):
    out = bytearray(struct.pack("<h", len(rows)) + bytes(24))
    for prefix, extension in rows:
        key = prefix.encode("ascii")
        ext = extension.encode("ascii")
        if not 0 < len(key) <= 16 or len(ext) > 8:
            raise ValueError(f"prefix {prefix!r} or extension {extension!r} does not fit")
        out += bytes([16]) + key.ljust(16, b" ") + bytes([len(ext)]) + ext.ljust(8, b"\0")
    return bytes(out)


def main(src, dst):
    with open(src, newline="") as f:
        rows = [(r[0].strip(), r[1].strip()) for r in csv.reader(f) if r]
    if rows and rows[0] == ("prefix", "extension"):
        rows = rows[1:]
    with open(dst, "wb") as f:
        f.write(build(rows))


if __name__ == "__main__":
    main(*sys.argv[1:3])
