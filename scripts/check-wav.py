#!/usr/bin/env python3
"""check-wav.py FILE [--sequence]: prints a WAV file's format and duration; with
--sequence, also checks that the PCM bytes carry the test microphone's running byte
sequence (each byte one more than the last, modulo 251) and reports every gap."""
import struct
import sys


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 64
    data = open(sys.argv[1], "rb").read()
    if data[:4] != b"RIFF" or data[8:16] != b"WAVEfmt ":
        print("not a WAV file")
        return 1
    tag, channels, rate, byte_rate, align, bits = struct.unpack("<HHIIHH", data[20:36])
    size = struct.unpack("<I", data[40:44])[0]
    pcm = data[44:44 + size]
    print(f"PCM tag {tag}, {channels} ch, {rate} Hz, {bits} bits, {len(pcm)} bytes, "
          f"{len(pcm) / byte_rate:.2f} s")
    if "--sequence" in sys.argv:
        gaps = [i for i in range(1, len(pcm)) if pcm[i] != (pcm[i - 1] + 1) % 251]
        if gaps:
            print(f"{len(gaps)} break(s) in the byte sequence, first at byte {gaps[0]}")
            return 1
        print("byte sequence unbroken: no dropouts")
    return 0


if __name__ == "__main__":
    sys.exit(main())
