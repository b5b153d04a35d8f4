#!/usr/bin/env python3
"""usage: audio_stats.py FILE.wav   prints: PEAK LONGEST_INNER_SILENCE_FRAMES FRAMES

PEAK is the largest absolute sample (1.0 = full scale). The longest run of all-zero frames
between the first and the last sounding frame shows a gap in playback. Reads 16-bit PCM and
32-bit float WAV files (what velta-render and pw-record write), standard library only.
"""
import array
import struct
import sys


def samples(path):
    data = open(path, "rb").read()
    pos, fmt, channels = 12, None, 2
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + min(size, len(data))]
        if kind == b"fmt ":
            fmt, channels = struct.unpack("<HH", body[:4])
            bits = struct.unpack("<H", body[14:16])[0]
        elif kind == b"data":
            body = body[:len(body) - len(body) % (bits // 8)]
            values = array.array("f" if fmt == 3 or bits == 32 else "h", body)
            scale = 1.0 if values.typecode == "f" else 32768.0
            return [v / scale for v in values], channels
        pos += 8 + size + (size & 1)
    return [], channels


def main(path):
    values, channels = samples(path)
    frames = len(values) // channels
    sounding = [any(values[f * channels + c] != 0 for c in range(channels)) for f in range(frames)]
    peak = max((abs(v) for v in values), default=0.0)
    longest = run = 0
    first = sounding.index(True) if True in sounding else frames
    last = frames - 1 - sounding[::-1].index(True) if True in sounding else -1
    for f in range(first, last + 1):
        run = 0 if sounding[f] else run + 1
        longest = max(longest, run)
    print(f"{peak:.4f} {longest} {frames}")


if __name__ == "__main__":
    main(sys.argv[1])
