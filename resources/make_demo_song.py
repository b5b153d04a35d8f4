#!/usr/bin/env python3
"""Composes VELTA's demo song and writes it as a Standard MIDI File.

An original minor-key march in four parts: a drum-and-bass intro, a main theme, a darker
middle section, and the theme again at a faster tempo before a short ending. Lead, bass,
arpeggiated chords and drums (channel 10), with pan, volume and expression set per channel
and a pitch bend slide into the last note of the middle section.

Usage: make_demo_song.py [OUTPUT]   (default: final-bowser.mid beside this script)
"""

import os
import struct
import sys

DIVISION = 480
EIGHTH = DIVISION // 2
SIXTEENTH = DIVISION // 4
BAR = DIVISION * 4

NOTE_NAMES = {"C": 0, "C#": 1, "Db": 1, "D": 2, "D#": 3, "Eb": 3, "E": 4, "F": 5, "F#": 6,
              "Gb": 6, "G": 7, "G#": 8, "Ab": 8, "A": 9, "A#": 10, "Bb": 10, "B": 11}


def note(name):
    """'A4' -> 69, 'G#5' -> 80."""
    pitch, octave = name[:-1], int(name[-1])
    return 12 * (octave + 1) + NOTE_NAMES[pitch]


# Chord roots and qualities, as MIDI notes of the triad in octave 3.
CHORDS = {
    "Am": ("A3", "C4", "E4"),
    "F": ("F3", "A3", "C4"),
    "G": ("G3", "B3", "D4"),
    "E": ("E3", "G#3", "B3"),
    "Dm": ("D3", "F3", "A3"),
    "Bb": ("Bb2", "D3", "F3"),
}

INTRO = ["Am", "Am"]
THEME_CHORDS = ["Am", "F", "G", "E", "Am", "F", "G", "E"]
MIDDLE_CHORDS = ["Dm", "Am", "Bb", "E", "Dm", "Am", "E", "E"]
ENDING = ["Am", "Am"]

# Lead phrases: one list per bar of (note or None for a rest, length in eighths).
THEME = [
    [("A4", 2), ("C5", 1), ("E5", 1), ("A5", 3), ("G5", 1)],
    [("F5", 1), ("E5", 1), ("C5", 2), ("A4", 2), ("C5", 2)],
    [("B4", 3), ("D5", 1), ("G5", 2), ("F5", 1), ("E5", 1)],
    [("E5", 6), ("G#4", 2)],
    [("A4", 1), ("B4", 1), ("C5", 1), ("E5", 1), ("A5", 2), ("B5", 1), ("C6", 1)],
    [("A5", 2), ("F5", 2), ("C5", 2), ("F5", 2)],
    [("G5", 1), ("F5", 1), ("E5", 1), ("D5", 1), ("B4", 2), ("D5", 2)],
    [("E5", 2), ("G#5", 2), ("B5", 4)],
]
MIDDLE = [
    [("D5", 3), ("F5", 1), ("A5", 2), ("D6", 2)],
    [("C6", 2), ("B5", 1), ("A5", 1), ("E5", 4)],
    [("F5", 2), ("Bb5", 2), ("D6", 3), ("C6", 1)],
    [("B5", 2), ("G#5", 2), ("E5", 4)],
    [("A5", 1), ("G5", 1), ("F5", 1), ("E5", 1), ("D5", 2), ("F5", 2)],
    [("E5", 2), ("A5", 2), ("C6", 2), ("E6", 2)],
    [("D6", 1), ("C6", 1), ("B5", 1), ("A5", 1), ("G#5", 2), ("B5", 2)],
    [("E6", 8)],
]
FINALE = [("A5", 2), ("E5", 1), ("C5", 1), ("A4", 4)]

LEAD, BASS, CHORDS_CH, DRUMS = 0, 1, 2, 9
KICK, SNARE, HIHAT, OPEN_HAT, CRASH, TOM = 36, 38, 42, 46, 49, 45


class Track:
    def __init__(self, name):
        self.events = []  # (tick, order, bytes); order keeps note-offs before note-ons
        self.meta(0, 0x03, name.encode("ascii"))

    def add(self, tick, data, order=1):
        self.events.append((tick, order, len(self.events), bytes(data)))

    def meta(self, tick, kind, payload):
        self.add(tick, bytes([0xFF, kind]) + varlen(len(payload)) + payload)

    def note(self, tick, channel, pitch, length, velocity):
        self.add(tick, [0x90 | channel, pitch, velocity])
        self.add(tick + length, [0x80 | channel, pitch, 0], order=0)

    def control(self, tick, channel, controller, value):
        self.add(tick, [0xB0 | channel, controller, value])

    def encode(self):
        out = bytearray()
        last = 0
        for tick, _, _, data in sorted(self.events):
            out += varlen(tick - last) + data
            last = tick
        out += varlen(0) + b"\xff\x2f\x00"
        return b"MTrk" + struct.pack(">I", len(out)) + bytes(out)


def varlen(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def tempo_event(bpm):
    return struct.pack(">I", round(60_000_000 / bpm))[1:]


def setup(track, channel, program, volume, pan, expression=127):
    track.add(0, [0xC0 | channel, program])
    track.control(0, channel, 7, volume)
    track.control(0, channel, 10, pan)
    track.control(0, channel, 11, expression)


def play_phrase(track, start, bars, transpose=0, velocity=100):
    tick = start
    for bar in bars:
        for name, eighths in bar:
            length = eighths * EIGHTH
            if name is not None:
                # Slightly detached, as a square-wave lead sounds best.
                track.note(tick, LEAD, note(name) + transpose, length - 30, velocity)
            tick += length
    return tick


def compose():
    progression = INTRO + THEME_CHORDS + MIDDLE_CHORDS + THEME_CHORDS + ENDING
    theme_start = len(INTRO) * BAR
    middle_start = theme_start + len(THEME_CHORDS) * BAR
    reprise_start = middle_start + len(MIDDLE_CHORDS) * BAR
    ending_start = reprise_start + len(THEME_CHORDS) * BAR
    song_end = ending_start + len(ENDING) * BAR

    conductor = Track("Final Keep")
    conductor.add(0, [0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7])  # General MIDI System On
    conductor.meta(0, 0x58, bytes([4, 2, 24, 8]))
    conductor.meta(0, 0x51, tempo_event(150))
    conductor.meta(reprise_start, 0x51, tempo_event(172))
    conductor.meta(song_end - BAR // 2, 0x51, tempo_event(132))  # a held-back last chord

    lead = Track("Lead")
    setup(lead, LEAD, 80, 104, 60, 110)
    play_phrase(lead, theme_start, THEME)
    play_phrase(lead, middle_start, MIDDLE[:-1], velocity=108)
    # The long note of the middle section slides up a whole tone into place.
    last = middle_start + 7 * BAR
    lead.add(last, [0xE0 | LEAD, 0x00, 0x00])  # bend fully down (two semitones)
    lead.note(last, LEAD, note("E6"), BAR - 30, 112)
    for step in range(1, 9):
        value = 8192 * step // 8
        lead.add(last + step * SIXTEENTH // 2, [0xE0 | LEAD, value & 0x7F, value >> 7 & 0x7F])
    lead.add(last + BAR, [0xE0 | LEAD, 0x00, 0x40])
    lead.control(reprise_start, LEAD, 11, 127)
    play_phrase(lead, reprise_start, THEME, transpose=12, velocity=96)
    tick = ending_start
    for name, eighths in FINALE:
        lead.note(tick, LEAD, note(name), eighths * EIGHTH - 20, 110)
        tick += eighths * EIGHTH
    lead.note(ending_start + BAR, LEAD, note("A4"), BAR - 60, 100)

    bass = Track("Bass")
    setup(bass, BASS, 38, 100, 52)
    for bar, chord in enumerate(progression):
        root = note(CHORDS[chord][0])
        root = root - 12 if root >= note("C3") else root
        start = bar * BAR
        if start >= ending_start + BAR:
            bass.note(start, BASS, root, BAR - 60, 110)
            continue
        for step in range(8):
            pitch = root + (12 if step % 2 else 0)
            bass.note(start + step * EIGHTH, BASS, pitch, EIGHTH - 40, 112 if step % 4 == 0 else 96)

    chords = Track("Arpeggio")
    setup(chords, CHORDS_CH, 81, 70, 88, 100)
    for bar, chord in enumerate(progression):
        start = bar * BAR
        if bar < len(INTRO):
            continue
        if start >= ending_start + BAR:
            for pitch in CHORDS[chord]:
                chords.note(start, CHORDS_CH, note(pitch) + 12, BAR - 60, 90)
            continue
        low, third, fifth = (note(p) + 12 for p in CHORDS[chord])
        pattern = [low, third, fifth, low + 12, fifth, third, low, third]
        for step in range(16):
            chords.note(start + step * SIXTEENTH, CHORDS_CH, pattern[step % 8],
                        SIXTEENTH - 20, 84 if step % 4 == 0 else 68)
    # The arpeggio drifts from right to left across the middle section and back.
    for step in range(17):
        tick = middle_start + step * BAR // 2
        chords.control(tick, CHORDS_CH, 10, 88 - (8 - abs(8 - step)) * 6)
    chords.control(reprise_start, CHORDS_CH, 10, 88)

    drums = Track("Drums")
    drums.control(0, DRUMS, 7, 92)
    drums.control(0, DRUMS, 10, 64)
    for bar in range(len(progression)):
        start = bar * BAR
        if start >= ending_start + BAR:
            drums.note(start, DRUMS, CRASH, EIGHTH, 110)
            drums.note(start, DRUMS, KICK, EIGHTH, 120)
            continue
        section_start = start in (theme_start, middle_start, reprise_start, ending_start)
        if section_start:
            drums.note(start, DRUMS, CRASH, EIGHTH, 110)
        for beat in range(4):
            tick = start + beat * DIVISION
            drums.note(tick, DRUMS, KICK if beat % 2 == 0 else SNARE, EIGHTH, 118 if beat % 2 else 112)
            if not (section_start and beat == 0):
                drums.note(tick, DRUMS, HIHAT, SIXTEENTH, 70)
            drums.note(tick + EIGHTH, DRUMS, OPEN_HAT if beat == 3 else HIHAT, SIXTEENTH, 56)
        if bar % 4 == 3 and bar >= len(INTRO):
            # A tom fill leads into each new phrase.
            for step in range(4):
                drums.note(start + 3 * DIVISION + step * SIXTEENTH, DRUMS, TOM - step * 2,
                           SIXTEENTH, 100)
        if bar == len(INTRO) - 1 or bar >= reprise_start // BAR:
            drums.note(start + 3 * DIVISION + EIGHTH + SIXTEENTH, DRUMS, KICK, SIXTEENTH, 90)

    tracks = [conductor, lead, bass, chords, drums]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION)
    return header + b"".join(t.encode() for t in tracks)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "final-bowser.mid")
    with open(path, "wb") as out:
        out.write(compose())


if __name__ == "__main__":
    main()
