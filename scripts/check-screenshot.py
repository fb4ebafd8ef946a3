#!/usr/bin/env python3
"""check-screenshot.py SCREEN.xwd OUT.bmp: looks for the test camera's picture on a
screenshot of the whole X screen (xwd -root): passes when some row of the screen shows
at least 7 of the picture's 8 bar colours side by side. Writes the screenshot as a BMP
file for a person to look at, and prints where the picture was found."""
import struct
import sys

BARS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
        (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]


def read_xwd(path):
    data = open(path, "rb").read()
    header = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = header[:6]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = header[7], header[11], header[12], header[19]
    red_mask, green_mask, blue_mask = header[14:17]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError(f"unexpected XWD: version {version}, format {pixmap_format}, {bits_per_pixel} bits")
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        row = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        pixels = []
        for x in range(width):
            chunk = row[x * step:(x + 1) * step]
            value = struct.unpack(order + "I", chunk if step == 4 else
                                  (chunk + b"\0" if order == "<" else b"\0" + chunk))[0]
            pixels.append(tuple((value >> s) & 255 for s in shifts))
        rows.append(pixels)
    return width, height, rows


def write_bmp(path, width, height, rows):
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for pixels in reversed(rows):
        line = bytearray()
        for r, g, b in pixels:
            line += bytes((b, g, r))
        body += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    open(path, "wb").write(header + info + body)


def near(colour, reference, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, reference))


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 64
    width, height, rows = read_xwd(sys.argv[1])
    write_bmp(sys.argv[2], width, height, rows)
    found = []
    for y in range(0, height, 2):
        # Count a bar colour only where it runs for 8 pixels: the picture's bars are wide,
        # a window frame's shading is not.
        seen = set()
        run, last = 0, None
        for pixel in rows[y]:
            match = next((i for i, bar in enumerate(BARS) if near(pixel, bar)), None)
            run = run + 1 if match is not None and match == last else 1
            last = match
            if match is not None and run >= 8:
                seen.add(match)
        if len(seen) >= 7:
            found.append(y)
    if not found:
        print(f"the camera's picture is not on the {width}x{height} screen")
        return 1
    print(f"the camera's picture is on screen rows {found[0]}..{found[-1]} "
          f"({len(found) * 2} rows show 7 or 8 of its bar colours)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
