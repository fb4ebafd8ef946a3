#!/usr/bin/env python3
"""check-wav.py FILE [--sequence | --tone HZ]: prints a WAV file's format and duration;
with --sequence, also checks that the PCM bytes carry the test microphone's running byte
sequence (each byte one more than the last, modulo 251) and reports every gap; with
--tone, checks that the dominant frequency of 16-bit PCM is HZ within 2 %."""
import cmath
import math
import struct
import sys

WINDOW = 8192  # samples per spectrum: under 1.5 Hz a bin at 11025 Hz


def spectrum(samples):
    """Magnitudes of the Hann-windowed radix-2 FFT of len(samples) (a power of two)."""
    n = len(samples)
    bits = n.bit_length() - 1
    values = [0j] * n
    for i, sample in enumerate(samples):
        reversed_index = int(format(i, f"0{bits}b")[::-1], 2)
        values[reversed_index] = sample * (0.5 - 0.5 * math.cos(2 * math.pi * i / n))
    size = 2
    while size <= n:
        step = cmath.exp(-2j * math.pi / size)
        for start in range(0, n, size):
            factor = 1
            for k in range(size // 2):
                even, odd = values[start + k], values[start + k + size // 2] * factor
                values[start + k], values[start + k + size // 2] = even + odd, even - odd
                factor *= step
        size *= 2
    return [abs(v) for v in values[:n // 2]]


def dominant_frequency(pcm, channels, rate):
    """The strongest frequency of the first channel, from up to eight windows summed;
    None for silence or too short a file."""
    samples = struct.unpack(f"<{len(pcm) // 2}h", pcm[:len(pcm) // 2 * 2])[::channels]
    windows = min(8, len(samples) // WINDOW)
    if windows == 0 or not any(samples):
        return None
    total = [0.0] * (WINDOW // 2)
    for w in range(windows):
        for i, magnitude in enumerate(spectrum(samples[w * WINDOW:(w + 1) * WINDOW])):
            total[i] += magnitude
    peak = max(range(1, len(total) - 1), key=total.__getitem__)
    # Parabolic interpolation between the neighbouring bins.
    left, centre, right = total[peak - 1], total[peak], total[peak + 1]
    offset = 0.5 * (left - right) / (left - 2 * centre + right) if left - 2 * centre + right else 0
    return (peak + offset) * rate / WINDOW


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
        found = dominant_frequency(pcm, channels, rate) if bits == 16 else None
        if found is None:
            print(f"no {wanted:g} Hz tone: the PCM is silent, too short or not 16-bit")
            return 1
        print(f"tone found at {found:.1f} Hz (wanted {wanted:g} Hz +/- 2 %)")
        if abs(found - wanted) > 0.02 * wanted:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
