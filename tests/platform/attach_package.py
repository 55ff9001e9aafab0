#!/usr/bin/env python3
"""Appends a package table to a program as pak bundle lays it out, without pak's checks,
so that tests can make installers pak bundle refuses to make.

    attach_package.py PROGRAM OUT [--no-record] [NAME=FILE ...]

Each NAME=FILE is one blob (NAME as given, bytes of FILE); a checksum record
(PACKAGE.CRC) over them comes last unless --no-record. No blob at all gives a table
with no entries.
"""
import os
import struct
import sys
import zlib


def record(blobs):
    out = b"PKUPCRC1" + struct.pack("<I", len(blobs))
    for name, data in blobs:
        out += struct.pack("<IQI", zlib.crc32(data), len(data), len(name)) + name
    return out


def main(args):
    program, out_path, rest = args[0], args[1], args[2:]
    with_record = "--no-record" not in rest
    blobs = []
    for item in rest:
        if item == "--no-record":
            continue
        name, _, path = item.partition("=")
        with open(path, "rb") as file:
            blobs.append((os.fsencode(name), file.read()))
    if with_record and blobs:
        blobs.append((b"PACKAGE.CRC", record(blobs)))
    with open(program, "rb") as file:
        out = bytearray(file.read())
    payload_start = len(out)
    entries = []
    for name, data in blobs:
        while len(out) % 8:
            out.append(0)
        entries.append((len(out), len(data), name))
        out += data
    entries_offset = len(out)
    for offset, size, name in entries:
        out += struct.pack("<QQI", offset, size, len(name)) + name
    entries_size = len(out) - entries_offset
    out += struct.pack("<QQII", payload_start, entries_offset, len(entries), entries_size) + b"PKUPRSRC"
    with open(out_path, "wb") as file:
        file.write(out)
    os.chmod(out_path, 0o755)


if __name__ == "__main__":
    main(sys.argv[1:])
