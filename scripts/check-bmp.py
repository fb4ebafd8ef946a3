#!/usr/bin/env python3
"""check-bmp.py FOLDER [--pattern] [--numbers]: checks the BMP frames the demo host
wrote: each a well-formed bottom-up BMP of one size and depth. With --pattern, also
checks that they show the test camera's picture (the eight colour bars); with
--numbers, that the frame numbers the camera stamps into the first pixels increase
from file to file (RGB captures only: converting I420 for viewing loses them)."""
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


def near(colour, reference, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, reference))


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 64
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
            # The camera's white band moves down the picture: one of two rows half a
            # picture apart is always clear of it.
            best = set()
            for y in (height // 4, 3 * height // 4):
                seen = {bar for x in range(width) for bar in BARS
                        if near(pixel(rows, stride, bits, x, y), bar)}
                best = max(best, seen, key=len)
            if len(best) < 7:
                print(f"{path}: shows {len(best)} of the test pattern's 8 bar colours")
                return 1
        numbers.append(struct.unpack("<I", rows[:4])[0])
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
