#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later

"""Pack PNG files into one Windows .ico file, or check an existing .ico.

Only the Python standard library is used.

    pack_ico.py OUT.ico IMAGE.png [IMAGE.png ...]
        Writes an ICO container (ICONDIR + one ICONDIRENTRY per image) that
        embeds every PNG file byte for byte, in the order given.

    pack_ico.py --check FILE.ico [--expect N]
        Parses FILE.ico back, prints its directory and fails (exit status 1)
        if the directory is inconsistent with the embedded images, or if it
        does not hold exactly N entries when --expect is given.

ICO layout (all little-endian):
    ICONDIR       reserved u16 = 0, type u16 = 1 (icon), count u16
    ICONDIRENTRY  width u8, height u8 (0 means 256), colour count u8
                  (0 when the image has 256 or more colours, or is a PNG),
                  reserved u8 = 0, planes u16 = 1, bit count u16,
                  size of image data u32, offset of image data u32
    image data    here each one is a complete PNG file.
"""

import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
ICONDIR = struct.Struct("<HHH")
ICONDIRENTRY = struct.Struct("<BBBBHHII")

# Samples per pixel for each PNG colour type.
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
COLOUR_TYPE_NAMES = {0: "grey", 2: "RGB", 3: "palette", 4: "grey+alpha", 6: "RGBA"}


class IcoError(Exception):
    pass


def png_chunks(data, what):
    """Yield (type, payload) for each chunk of a PNG, checking every CRC."""
    if not data.startswith(PNG_SIGNATURE):
        raise IcoError(f"{what}: not a PNG file (bad signature)")
    pos = len(PNG_SIGNATURE)
    while pos < len(data):
        if pos + 8 > len(data):
            raise IcoError(f"{what}: truncated chunk header at byte {pos}")
        length, ctype = struct.unpack(">I4s", data[pos:pos + 8])
        end = pos + 8 + length + 4
        if end > len(data):
            raise IcoError(f"{what}: chunk {ctype!r} runs past the end")
        payload = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[end - 4:end])
        if zlib.crc32(ctype + payload) & 0xFFFFFFFF != crc:
            raise IcoError(f"{what}: CRC mismatch in chunk {ctype!r}")
        yield ctype, payload
        pos = end
        if ctype == b"IEND":
            if pos != len(data):
                raise IcoError(f"{what}: {len(data) - pos} bytes after IEND")
            return
    raise IcoError(f"{what}: no IEND chunk")


def png_info(data, what):
    """Return a dict with width, height, bit_depth, colour_type, bits_per_pixel."""
    chunks = list(png_chunks(data, what))
    if not chunks or chunks[0][0] != b"IHDR" or len(chunks[0][1]) != 13:
        raise IcoError(f"{what}: first chunk is not a valid IHDR")
    width, height, depth, ctype, _comp, _filt, _interlace = struct.unpack(
        ">IIBBBBB", chunks[0][1])
    if ctype not in CHANNELS:
        raise IcoError(f"{what}: unknown PNG colour type {ctype}")
    has_plte = any(t == b"PLTE" for t, _ in chunks)
    if ctype == 3 and not has_plte:
        raise IcoError(f"{what}: palette image without PLTE chunk")
    return {
        "width": width,
        "height": height,
        "bit_depth": depth,
        "colour_type": ctype,
        "bits_per_pixel": depth * CHANNELS[ctype],
        "trns": any(t == b"tRNS" for t, _ in chunks),
    }


def size_byte(n, what):
    if not 1 <= n <= 256:
        raise IcoError(f"{what}: {n} px does not fit an ICO entry (1..256)")
    return 0 if n == 256 else n


def pack(out_path, png_paths):
    images = []
    for path in png_paths:
        with open(path, "rb") as f:
            data = f.read()
        images.append((path, data, png_info(data, path)))

    offset = ICONDIR.size + ICONDIRENTRY.size * len(images)
    header = [ICONDIR.pack(0, 1, len(images))]
    for path, data, info in images:
        header.append(ICONDIRENTRY.pack(
            size_byte(info["width"], path),
            size_byte(info["height"], path),
            0,                       # colour count: 0 for >= 256 colours / PNG
            0,                       # reserved
            1,                       # colour planes
            info["bits_per_pixel"],  # 8 for a palette PNG, 32 for RGBA
            len(data),
            offset))
        offset += len(data)

    with open(out_path, "wb") as f:
        f.write(b"".join(header))
        for _path, data, _info in images:
            f.write(data)


def check(ico_path, expect=None):
    """Parse an ICO back; return its entries or raise IcoError."""
    with open(ico_path, "rb") as f:
        data = f.read()
    if len(data) < ICONDIR.size:
        raise IcoError(f"{ico_path}: too short for an ICONDIR")
    reserved, kind, count = ICONDIR.unpack_from(data, 0)
    if reserved != 0 or kind != 1:
        raise IcoError(f"{ico_path}: not an icon file (reserved={reserved}, type={kind})")
    if expect is not None and count != expect:
        raise IcoError(f"{ico_path}: {count} entries, expected {expect}")
    dir_end = ICONDIR.size + ICONDIRENTRY.size * count
    if dir_end > len(data):
        raise IcoError(f"{ico_path}: directory runs past the end of the file")

    entries = []
    spans = []
    for i in range(count):
        (w, h, colours, res, planes, bits, size, offset) = ICONDIRENTRY.unpack_from(
            data, ICONDIR.size + i * ICONDIRENTRY.size)
        what = f"{ico_path} entry {i}"
        if res != 0:
            raise IcoError(f"{what}: reserved byte is {res}")
        if offset < dir_end or offset + size > len(data):
            raise IcoError(f"{what}: data [{offset}, {offset + size}) outside the file body")
        info = png_info(data[offset:offset + size], what)
        width, height = w or 256, h or 256
        if (width, height) != (info["width"], info["height"]):
            raise IcoError(f"{what}: directory says {width}x{height}, "
                           f"PNG is {info['width']}x{info['height']}")
        if bits != info["bits_per_pixel"]:
            raise IcoError(f"{what}: directory says {bits} bpp, PNG has "
                           f"{info['bits_per_pixel']}")
        if colours != 0:
            raise IcoError(f"{what}: colour count is {colours}, expected 0")
        if planes not in (0, 1):
            raise IcoError(f"{what}: planes is {planes}")
        spans.append((offset, offset + size))
        entries.append((width, height, bits, info["colour_type"], size, offset))

    spans.sort()
    for (a0, a1), (b0, _b1) in zip(spans, spans[1:]):
        if b0 < a1:
            raise IcoError(f"{ico_path}: image data blocks overlap at byte {b0}")
    keys = [(e[0], e[1], e[2]) for e in entries]
    if len(set(keys)) != len(keys):
        raise IcoError(f"{ico_path}: two entries share size and bit depth")
    return entries


def main(argv):
    try:
        if argv[:1] == ["--check"]:
            args = argv[1:]
            expect = None
            if "--expect" in args:
                i = args.index("--expect")
                expect = int(args[i + 1])
                del args[i:i + 2]
            if len(args) != 1:
                raise SystemExit(__doc__)
            entries = check(args[0], expect)
            print(f"{args[0]}: {len(entries)} entries")
            for w, h, bits, ctype, size, offset in entries:
                print(f"  {w:3d}x{h:<3d} {bits:2d} bpp  PNG {COLOUR_TYPE_NAMES[ctype]:7s}"
                      f" {size:6d} bytes at offset {offset}")
            return 0
        if len(argv) < 2 or argv[0].startswith("-"):
            raise SystemExit(__doc__)
        pack(argv[0], argv[1:])
        return 0
    except (IcoError, OSError) as e:
        print(f"pack_ico.py: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
