#!/usr/bin/env python3
"""Helpers of test_input_e2e.sh (standard library only).

  input_e2e.py song OUT.mid                  7 segments of 5 s on channel 0, notes 60 62 64 65 67
                                             69 71; channel 1 holds note 78 throughout
  input_e2e.py audio CAPTURE.wav             rms=R note=N high=H: loudness, the channel-0 segment
                                             note that dominates, channel 1's share of the energy
  input_e2e.py screen SHOT.rgb ATLAS.rgba    play=0/1 stop=0/1 pause=0/1 mutes=u/M x16 seek=F
"""
import math
import os
import re
import struct
import sys

SEGMENT_NOTES = [60, 62, 64, 65, 67, 69, 71]  # one octave: no note is another's harmonic
HIGH_NOTE = 78  # channel 1; not a harmonic of any segment note
SEGMENT_SECONDS = 5
SCREEN_WIDTH = 1280
SCALE = 1.5

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))


def song(path):
    from make_midi import note_off, note_on, smf, tempo

    beat = 480  # 120 bpm: two beats a second
    conductor = [(0, tempo(500000))]
    lead, high = [], []
    for segment, note in enumerate(SEGMENT_NOTES):
        for b in range(SEGMENT_SECONDS * 2):
            start = (segment * SEGMENT_SECONDS * 2 + b) * beat
            lead += [(start, note_on(0, note, 110)), (start + beat - 40, note_off(0, note))]
            high += [(start, note_on(1, HIGH_NOTE, 110)), (start + beat - 40, note_off(1, HIGH_NOTE))]
    with open(path, "wb") as f:
        f.write(smf([conductor, lead, high], division=beat))


def read_float_wav(path):
    data = open(path, "rb").read()
    pos, rate, channels, samples = 12, 48000, 2, b""
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if kind == b"fmt ":
            channels, rate = struct.unpack("<HI", body[2:8])
        elif kind == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    values = struct.unpack("<%df" % (len(samples) // 4), samples[:len(samples) // 4 * 4])
    mono = [sum(values[i:i + channels]) / channels for i in range(0, len(values) - channels + 1, channels)]
    return rate, mono


def band_energy(frames, rate, freq, window=8192):
    # Goertzel over Hann-windowed blocks, summed.
    total = 0.0
    coeff = 2 * math.cos(2 * math.pi * freq / rate)
    hann = [0.5 - 0.5 * math.cos(2 * math.pi * i / window) for i in range(window)]
    for start in range(0, len(frames) - window + 1, window):
        s1 = s2 = 0.0
        for i in range(window):
            s0 = frames[start + i] * hann[i] + coeff * s1 - s2
            s2, s1 = s1, s0
        total += s1 * s1 + s2 * s2 - coeff * s1 * s2
    return total


def audio(path):
    rate, frames = read_float_wav(path)
    rms = math.sqrt(sum(v * v for v in frames) / len(frames)) if frames else 0.0
    hz = lambda note: 440.0 * 2 ** ((note - 69) / 12)
    energy = {n: band_energy(frames, rate, hz(n)) for n in SEGMENT_NOTES + [HIGH_NOTE]}
    note = max(SEGMENT_NOTES, key=lambda n: energy[n])
    total = sum(energy.values()) or 1.0
    print("rms=%.5f note=%d high=%.3f" % (rms, note, energy[HIGH_NOTE] / total))


def layout_constants():
    text = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "layout.h")).read()
    values = {}
    for name, body in re.findall(r"constexpr (?:int|Point|Rect) (k\w+) = \{?([-\d, ]+)\}?;", text):
        numbers = [int(v) for v in body.split(",")]
        values[name] = numbers if len(numbers) > 1 else numbers[0]
    return values


def screen(shot_path, atlas_path):
    L = layout_constants()
    shot = open(shot_path, "rb").read()
    atlas = open(atlas_path, "rb").read()

    def screen_rgb(u, v):  # the screen pixel whose centre lies inside skin unit (u, v)
        x, y = int(SCALE * u + 0.75), int(SCALE * v + 0.75)
        i = (y * SCREEN_WIDTH + x) * 3
        return shot[i:i + 3]

    def matches(dest, sprite, width, height):
        same = total = 0
        for v in range(height):
            for u in range(width):
                i = ((sprite[1] + v) * L["kAtlasWidth"] + sprite[0] + u) * 4
                if atlas[i + 3] != 255:
                    continue
                total += 1
                got = screen_rgb(dest[0] + u, dest[1] + v)
                same += all(abs(a - b) <= 2 for a, b in zip(got, atlas[i:i + 3]))
        return same / total if total else 0.0

    def lit(button, sprite):
        left = L["kTransportFirstLeft"] + L["kTransportPitch"] * button
        return int(matches((left, L["kTransportTop"]), L[sprite], L["kButtonWidth"], L["kButtonHeight"]) >= 0.9)

    mutes = ""
    for n in range(16):
        dest = (L["kMuteButton"][0] + n * L["kChannelPitch"], L["kMuteButton"][1])
        size = (L["kMuteWidth"], L["kMuteHeight"])
        muted, unmuted = matches(dest, L["kMutedSprite"], *size), matches(dest, L["kUnmutedSprite"], *size)
        mutes += "M" if muted >= 0.9 and muted > unmuted else "u" if unmuted >= 0.9 else "?"
    bar = L["kSeekBar"]
    row = bar[1] + bar[3] // 2
    columns = [screen_rgb(bar[0] + u, row) for u in range(bar[2])]
    seek = sum(c == columns[0] for c in columns) / len(columns)
    print("play=%d stop=%d pause=%d mutes=%s seek=%.2f" % (
        lit(0, "kLitPlaySprite"), lit(2, "kLitStopSprite"), lit(3, "kLitPauseSprite"), mutes, seek))


if __name__ == "__main__":
    {"song": song, "audio": audio, "screen": screen}[sys.argv[1]](*sys.argv[2:])
