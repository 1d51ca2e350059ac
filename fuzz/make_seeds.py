#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs: small image and wave archives covering each bitmap kind and chunk
layout the loaders know, and world high-score records as text and as symbols. Run from this folder; the
outputs are kept in seeds/."""
import os
import struct


def sstr(s):
    return bytes([len(s)]) + s


def container(resource, root, props):
    body = b"TPF0" + sstr(root) + sstr(b"") + props + b"\0\0"
    return b"\xff\x0a\x00" + resource + b"\0" + struct.pack("<HI", 0x1030, len(body)) + body


def prop(name, value):
    return sstr(name) + value


def binary(data):
    return b"\x0a" + struct.pack("<I", len(data)) + data


def int8(v):
    return b"\x02" + struct.pack("<b", v)


def picture(name, dib, extra=b""):
    return (b"\x01" + prop(b"Name", b"\x06" + sstr(name)) + prop(b"PatternWidth", int8(2)) +
            prop(b"Picture.Data", binary(sstr(b"TDIB") + dib)) +
            prop(b"TransparentColor", b"\x07" + sstr(b"clFuchsia")) + extra + b"\0")


def dxg(pictures):
    props = prop(b"List.ColorTable", binary(bytes(1024))) + prop(b"List", b"\x0e" + b"".join(pictures) + b"\0")
    return container(b"TPICTURECOLLECTIONCOMPONENT", b"TPictureCollectionComponent", props)


def info(w, h, bits, comp=0, size=0, used=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, comp, size, 0, 0, used, 0)


pal4 = b"".join(struct.pack("<BBBB", i * 16, 255 - i * 16, i, 0) for i in range(16))
dibs = {
    "rgb24": info(3, 2, 24, size=16) + bytes(range(9)) + b"\0\0\0" + bytes(range(9, 18)) + b"\0\0\0",
    "top32": info(2, -2, 32) + bytes(range(16)),
    "pal1": info(9, 2, 1, used=2) + b"\0\0\0\0\xff\xff\xff\0" + b"\xaa\x80\0\0\x55\x00\0\0",
    "pal4": info(4, 2, 4) + pal4 + b"\x01\x23\0\0\x45\x67\0\0",
    "pal8": info(3, 1, 8, used=3) + pal4[:12] + b"\x00\x01\x02\x00",
    "rle8": info(6, 3, 8, comp=1, size=20, used=4) + pal4[:16] +
            b"\x03\x01\x00\x03\x02\x03\x01\x00\x00\x00\x00\x02\x01\x01\x02\x02\x00\x00\x00\x01",
    # runs past the end of the first and of the last stored row
    "rle8cut": info(3, 2, 8, comp=1, size=12, used=3) + pal4[:12] +
               b"\x05\x01\x00\x00\x00\x02\x01\x00\x04\x02\x00\x01",
    "rle4": info(6, 2, 4, comp=2, size=14) + pal4 + b"\x04\x12\x00\x03\x34\x50\x00\x00\x00\x02\x01\x00\x00\x01",
    "bf565": info(2, 1, 16, comp=3) + struct.pack("<III", 0xF800, 0x07E0, 0x001F) + b"\xff\xff\x00\xf8",
    "core8": struct.pack("<IHHHH", 12, 2, 1, 1, 8) + b"\x10\x20\x30" * 256 + b"\x00\x01\x00\x00",
}
for name, dib in dibs.items():
    open(f"seeds/image_archive/{name}.dxg", "wb").write(dxg([picture(name.encode(), dib)]))


def riff(chunks):
    body = b"WAVE" + b"".join(cid + struct.pack("<I", len(d)) + d for cid, d in chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


fmt = struct.pack("<HHIIHH", 1, 1, 22050, 22050, 1, 8)
waves = {
    "plain": riff([(b"fmt ", fmt), (b"data", bytes(range(8)))]),
    "list": riff([(b"fmt ", fmt), (b"LIST", b"INFOabc"), (b"data", bytes(range(5)))]),
}
for name, wave in waves.items():
    item = (b"\x01" + prop(b"Name", b"\x06" + sstr(name.encode())) + prop(b"Looped", b"\x08") +
            prop(b"MaxPlayingCount", int8(2)) + prop(b"Wave.WAVE", binary(wave)) + b"\0")
    data = container(b"TWAVECOLLECTIONCOMPONENT", b"TWaveCollectionComponent", prop(b"List", b"\x0e" + item + b"\0"))
    open(f"seeds/wave_archive/{name}.dxw", "wb").write(data)


# World high-score records: a first byte of 0 before the symbols of an inf value, 1 before a record text.
ALPHABET = "ABCDEFGHJKLMNPQRSTUVWXY123456789"


def record(name, score, key, token, country):
    text = f"type=0|name={name}|score={score}|key={key}|p={token}|add={country}|z="
    return text + "0" * ((5 - len(text) % 5) % 5)


def symbols(text):
    bits = "".join(f"{b:08b}" for b in text.encode("latin-1"))
    bits = "0" * ((5 - len(bits) % 5) % 5) + bits
    return "".join(ALPHABET[int(bits[i:i + 5], 2)] for i in range(0, len(bits), 5))


records = {
    "empty": record("", 0, "P", "", ""),
    "full": record("Anonymous", 65535, "Z", "0123456789abcdef0123456789abcdef", "Norway"),
    "blanks": record(" a 1 ", 7, "A", "t", " "),
}
os.makedirs("seeds/score_record", exist_ok=True)
for name, text in records.items():
    open(f"seeds/score_record/{name}.inf", "wb").write(b"\0" + symbols(text).encode())
    open(f"seeds/score_record/{name}.txt", "wb").write(b"\1" + text.encode())
