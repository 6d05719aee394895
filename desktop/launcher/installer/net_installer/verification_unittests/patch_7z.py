#!/usr/bin/env python3
"""Edits 7z archives for extraction tests.

  patch_7z.py names IN OUT OLD NEW [OLD NEW ...]
      Replaces item names in an archive whose header is stored uncompressed
      (7zz a -mhc=off): each OLD must occur exactly once in the header as
      UTF-16LE and have the same length as NEW. The header CRC and the start
      header CRC are recomputed, so the decoder accepts the new names. This is
      how archives with names that 7zz refuses to store (../x, C:x, \\\\host)
      are made.

  patch_7z.py damage IN OUT OLD NEW
      Replaces the bytes OLD (exactly once, anywhere) with NEW of the same
      length and leaves every CRC alone: item data no longer matches its CRC.
"""
import struct
import sys
import zlib

START_HEADER_SIZE = 32


def fail(message):
    sys.exit("patch_7z.py: " + message)


def patch_names(data, pairs):
    data = bytearray(data)
    if data[:6] != b"7z\xbc\xaf\x27\x1c":
        fail("not a 7z archive")
    offset, size, _ = struct.unpack_from("<QQI", data, 12)
    start = START_HEADER_SIZE + offset
    header = bytes(data[start:start + size])
    if header[:1] != b"\x01":
        fail("the header is not stored plainly (make the archive with -mhc=off)")
    for old, new in pairs:
        old16, new16 = old.encode("utf-16-le"), new.encode("utf-16-le")
        if len(old16) != len(new16):
            fail("%r and %r differ in length" % (old, new))
        if header.count(old16) != 1:
            fail("%r occurs %d times in the header" % (old, header.count(old16)))
        header = header.replace(old16, new16)
    data[start:start + size] = header
    struct.pack_into("<I", data, 28, zlib.crc32(header) & 0xFFFFFFFF)
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])) & 0xFFFFFFFF)
    return bytes(data)


def damage(data, old, new):
    if len(old) != len(new) or data.count(old) != 1:
        fail("damage needs one occurrence of %r and a replacement of its length" % old)
    return data.replace(old, new)


def main(argv):
    if len(argv) < 6 or argv[1] not in ("names", "damage") or len(argv) % 2:
        fail(__doc__)
    with open(argv[2], "rb") as f:
        data = f.read()
    if argv[1] == "names":
        pairs = list(zip(argv[4::2], argv[5::2]))
        data = patch_names(data, pairs)
    else:
        data = damage(data, argv[4].encode(), argv[5].encode())
    with open(argv[3], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
