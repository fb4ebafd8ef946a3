#!/usr/bin/env python3
"""check-bmp.py FOLDER [--pattern [--brightness=N]] [--numbers]: checks the BMP frames the
demo host wrote: each a well-formed bottom-up BMP of one size and depth. With --pattern, also
checks that they show the test camera's picture (the eight colour bars); --brightness=N
wants the bars as the camera's brightness control shifts them (N added to every channel,
clamped), within 8 rather than 40 of each colour, so that a shift of 24 or more shows; with
--numbers, that the frame numbers the camera draws as black and white cells increase
from file to file (the cells survive conversion, so any capture format works; they are
readable from 80x48 up)."""
import glob
import os
import struct
import sys

BARS = {(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
        (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)}


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM" or struct.unpack("<I", data[2:6])[0] != len(data):
        raise ValueError("not a BMP file, or its size field is wrong")
    offset, header = struct.unpack("<II", data[10:18])
    width, height, planes, bits, compression = struct.unpack("<iiHHI", data[18:34])
    if header != 40 or planes != 1 or compression != 0 or bits not in (16, 24, 32) or width <= 0 or height <= 0:
        raise ValueError(f"unexpected header: {width}x{height}, {bits} bits, compression {compression}")
    stride = (width * bits // 8 + 3) & ~3
    if len(data) < offset + stride * height:
        raise ValueError("pixel data is short")
    return width, height, bits, data[offset:offset + stride * height], stride


def pixel(rows, stride, bits, x, y_from_bottom):
    at = y_from_bottom * stride + x * (bits // 8)
    if bits == 16:
        word = rows[at] | rows[at + 1] << 8
        return tuple((((word >> shift) & 31) * 255 + 15) // 31 for shift in (10, 5, 0))
    return rows[at + 2], rows[at + 1], rows[at]


# The camera's number cells (tools/testdevices/PictureLayout.h): 4 rows of 8 cells one cell in
# from the top-left corner, bit i in cell i row by row; bits 0..23 the frame number, 24..31
# the inverted XOR of its three bytes.
CELL_COLUMNS, CELL_ROWS = 8, 4


def cell_size(width, height):
    for size in (16, 8):
        if width >= (CELL_COLUMNS + 2) * size and height >= (CELL_ROWS + 2) * size:
            return size
    return 0


def read_frame_number(rows, stride, bits, width, height):
    """The number the cells show, or None when they are missing or not clean black/white."""
    size = cell_size(width, height)
    if not size:
        return None
    margin = size // 4
    value = 0
    for i in range(CELL_COLUMNS * CELL_ROWS):
        left, top = (i % CELL_COLUMNS + 1) * size, (i // CELL_COLUMNS + 1) * size
        lumas = set()
        for y in range(top + margin, top + size - margin):
            for x in range(left + margin, left + size - margin):
                r, g, b = pixel(rows, stride, bits, x, height - 1 - y)
                lumas.add((66 * r + 129 * g + 25 * b + 128) // 256 + 16)
        if any(60 < luma < 180 for luma in lumas) or (min(lumas) <= 60) == (max(lumas) >= 180):
            return None
        if min(lumas) >= 180:
            value |= 1 << i
    number = value & 0xffffff
    check = ~(number ^ (number >> 8) ^ (number >> 16)) & 0xff
    return number if value >> 24 == check else None


def near(colour, reference, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, reference))


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 64
    bars, tolerance = BARS, 40
    for arg in sys.argv[2:]:
        if arg.startswith("--brightness="):
            shift = int(arg.split("=", 1)[1])
            bars = {tuple(min(255, max(0, c + shift)) for c in bar) for bar in BARS}
            tolerance = 8
    files = sorted(glob.glob(os.path.join(sys.argv[1], "*.bmp")))
    if not files:
        print(f"no BMP files in {sys.argv[1]}")
        return 1
    shape = None
    numbers = []
    for path in files:
        try:
            width, height, bits, rows, stride = read_bmp(path)
        except ValueError as error:
            print(f"{path}: {error}")
            return 1
        if shape is None:
            shape = (width, height, bits)
        elif shape != (width, height, bits):
            print(f"{path}: {width}x{height} {bits} bits, the first frame was {shape}")
            return 1
        if "--pattern" in sys.argv:
            # The camera's white band moves down the picture and its number cells sit near
            # the top (at 320x240 over the row a quarter down): the band covers at most one
            # of the rows at 1/2, 3/4 and 7/8 of the picture, so one of them is clear.
            best = set()
            for y in (height // 4, height // 2, 3 * height // 4, 7 * height // 8):
                seen = {bar for x in range(width) for bar in bars
                        if near(pixel(rows, stride, bits, x, y), bar, tolerance)}
                best = max(best, seen, key=len)
            if len(best) < 7:
                print(f"{path}: shows {len(best)} of the test pattern's 8 bar colours")
                return 1
        if "--numbers" in sys.argv:
            number = read_frame_number(rows, stride, bits, width, height)
            if number is None:
                print(f"{path}: no readable frame number cells")
                return 1
            numbers.append(number)
    print(f"{len(files)} frames, {shape[0]}x{shape[1]}, {shape[2]} bits per pixel: well-formed")
    if "--pattern" in sys.argv:
        print("test pattern present in every frame")
    if "--numbers" in sys.argv:
        if any(b <= a for a, b in zip(numbers, numbers[1:])):
            print("frame numbers do not increase from file to file")
            return 1
        print(f"camera frame numbers {numbers[0]}..{numbers[-1]}, increasing")
    return 0


if __name__ == "__main__":
    sys.exit(main())
