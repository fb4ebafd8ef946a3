#!/usr/bin/env python3
"""check-wav.py FILE [--sequence | --tone HZ]: prints a WAV file's format and duration;
with --sequence, also checks that the PCM bytes carry the test microphone's running byte
sequence (each byte one more than the last, modulo 251) and reports every gap; with
--tone, checks that 16-bit PCM holds a steady tone of HZ within 2 % and counts the
places where samples are missing from it."""
import math
import statistics
import struct
import sys


def tone_frequency(pcm, channels, rate):
    """The frequency of a steady tone in the first channel of 16-bit PCM, from the median
    time between zero crossings: the gaps of a lossy device shift a spectrum's peak, but
    only a few crossings. None for silence, noise or too short a file."""
    samples = struct.unpack(f"<{len(pcm) // 2}h", pcm[:len(pcm) // 2 * 2])[::channels]
    if len(samples) < rate // 10 or max(map(abs, samples)) < 328:  # 1 % of full scale
        return None
    crossings = [i - 1 + a / (a - b) for i, (a, b) in enumerate(zip(samples, samples[1:]), 1)
                 if (a < 0) != (b < 0)]
    halves = [b - a for a, b in zip(crossings, crossings[1:])]
    if len(halves) < 10:
        return None
    typical = statistics.median(halves)
    # A tone keeps most half periods within 5 % of the typical one; noise does not.
    if sum(abs(h - typical) < 0.05 * typical for h in halves) < 0.8 * len(halves):
        return None
    return rate / (2 * typical)


def tone_breaks(pcm, channels, rate, frequency):
    """Steps between neighbouring samples larger than a sine of that frequency and of
    the file's peak ever makes: where samples are missing from the tone."""
    samples = struct.unpack(f"<{len(pcm) // 2}h", pcm[:len(pcm) // 2 * 2])[::channels]
    limit = 1.2 * max(map(abs, samples)) * 2 * math.pi * frequency / rate
    return sum(abs(b - a) > limit for a, b in zip(samples, samples[1:]))


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
    if "--tone" in sys.argv:
        wanted = float(sys.argv[sys.argv.index("--tone") + 1])
        found = tone_frequency(pcm, channels, rate) if bits == 16 else None
        if found is None:
            print(f"no {wanted:g} Hz tone: the PCM is silent, noise, too short or not 16-bit")
            return 1
        print(f"tone found at {found:.1f} Hz (wanted {wanted:g} Hz +/- 2 %), "
              f"{tone_breaks(pcm, channels, rate, found)} break(s) in it")
        if abs(found - wanted) > 0.02 * wanted:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
