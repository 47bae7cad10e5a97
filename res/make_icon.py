#!/usr/bin/env python3
"""Writes the program icon: a blue 3.5-inch floppy disk struck through by a
red cross, as a 32x32 and a 16x16 image with 16 colours and a transparency
mask.

The pictures are drawn below, one character per pixel: "." is transparent,
every other letter picks a colour of the standard 16-colour palette.
"""

import struct
import sys

# The standard Windows 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

TRANSPARENT = "."
# Letter -> palette index.
COLOURS = {"K": 0, "N": 4, "S": 7, "G": 8, "R": 9, "B": 12, "W": 15}

# Outline black, body blue, metal shutter silver with its navy slot, label
# white with grey lines, cross red.
PICTURES = [
    [
"................................",
        ".RRKKKKKKSSSSSSSSSSSSSKKKKKK.RR.",
        ".RRRBBBBKSSSSSSSSSSSSSKBBBBBRRR.",
        ".KRRRBBBKSSSSSSSSNNNSSKBBBBRRR..",
        ".KBRRRBBKSSSSSSSSNNNSSKBBBRRRBK.",
        ".KBBRRRBKSSSSSSSSNNNSSKBBRRRBBK.",
        ".KBBBRRRKSSSSSSSSNNNSSKBRRRBBBK.",
        ".KBBBBRRRSSSSSSSSNNNSSKRRRBBBBK.",
        ".KBBBBBRRRSSSSSSSNNNSSRRRBBBBBK.",
        ".KBBBBBBRRRSSSSSSSSSSRRRBBBBBBK.",
        ".KBBBBBBKRRRSSSSSSSSRRRBBBBBBBK.",
        ".KBBBBBBKKRRRKKKKKKRRRKBBBBBBBK.",
        ".KBBBBBBBBBRRRBBBBRRRBBBBBBBBBK.",
        ".KBBBBBBBBBBRRRBBRRRBBBBBBBBBBK.",
        ".KBBBBBBBBBBBRRRRRRBBBBBBBBBBBK.",
        ".KBBBKKKKKKKKKRRRRKKKKKKKKKBBBK.",
        ".KBBBKWWWWWWWWRRRRWWWWWWWWKBBBK.",
        ".KBBBKWWWWWWWRRRRRRWWWWWWWKBBBK.",
        ".KBBBKWWWWWWRRRWWRRRWWWWWWKBBBK.",
        ".KBBBKWWGGGRRRGGGGRRRGGGWWKBBBK.",
        ".KBBBKWWWWRRRWWWWWWRRRWWWWKBBBK.",
        ".KBBBKWWWRRRWWWWWWWWRRRWWWKBBBK.",
        ".KBBBKWWRRRGGGGGGGGGGRRRWWKBBBK.",
        ".KBBBKWRRRWWWWWWWWWWWWRRRWKBBBK.",
        ".KBBBKRRRWWWWWWWWWWWWWWRRRKBBBK.",
        ".KBBBRRRGGGGGGGGGGGGGGGGRRRBBBK.",
        ".KBBRRRWWWWWWWWWWWWWWWWWWRRRBBK.",
        ".KBRRRWWWWWWWWWWWWWWWWWWWWRRRBK.",
        ".KRRRKWWWWWWWWWWWWWWWWWWWWKRRRK.",
        ".RRRBKWWWWWWWWWWWWWWWWWWWWKBRRR.",
        ".RRKKKKKKKKKKKKKKKKKKKKKKKKKKRR.",
        "................................",
    ],
    [
        "................",
        ".RKKKSSSSSSKK.R.",
        ".RRBKSSSNNSKBRR.",
        ".KRRKSSSNNSKRRK.",
        ".KBRRSSSNNSRRBK.",
        ".KBBRRSSSSRRBBK.",
        ".KBBKRRKKRRKBBK.",
        ".KBBBBRRRRBBBBK.",
        ".KBKKKKRRKKKKBK.",
        ".KBKWWRRRRWWKBK.",
        ".KBKWRRWWRRWKBK.",
        ".KBKRRGGGGRRKBK.",
        ".KBRRWWWWWWRRBK.",
        ".KRRWWWWWWWWRRK.",
        ".RRKKKKKKKKKKRR.",
        "................",
    ],
]


def palette_indices(picture):
    """The rows of a picture as palette indices, None where transparent."""
    size = len(picture)
    if any(len(row) != size for row in picture):
        raise ValueError("a picture must be square")
    return [[None if char == TRANSPARENT else COLOURS[char] for char in row] for row in picture]


def pack_rows(rows, bits, encode):
    """Bottom-up rows of `bits` per pixel, each padded to 4 bytes."""
    data = bytearray()
    for row in reversed(rows):
        value = 0
        for pixel in row:
            value = (value << bits) | encode(pixel)
        used = len(row) * bits
        stride = (used + 31) // 32 * 32
        data += (value << (stride - used)).to_bytes(stride // 8, "big")
    return bytes(data)


def encode_image(picture):
    """One icon image: header, palette, colour bits, then the AND mask."""
    rows = palette_indices(picture)
    size = len(rows)
    colour = pack_rows(rows, 4, lambda pixel: 0 if pixel is None else pixel)
    mask = pack_rows(rows, 1, lambda pixel: 1 if pixel is None else 0)
    # The height counts the colour bits and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", blue, green, red, 0) for red, green, blue in PALETTE)
    return header + palette + colour + mask


def encode_icon(pictures):
    """An .ico file holding every picture, in the given order."""
    images = [encode_image(picture) for picture in pictures]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for picture, image in zip(pictures, images):
        size = len(picture)
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py output.ico\n")
        return 2
    with open(argv[1], "wb") as target:
        target.write(encode_icon(PICTURES))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
