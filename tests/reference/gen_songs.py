#!/usr/bin/env python3
"""Writes a fixed set of small, feature-dense MIDI files for the engine cross-check.

Usage: gen_songs.py OUTDIR [MALFORMED_DIR]   (deterministic: the same files on every run)
"""

import os
import random
import sys


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


class Track:
    def __init__(self, running_status=True):
        self.items = []  # (tick, order, raw bytes with status)
        self.running_status = running_status

    def add(self, tick, *data):
        self.items.append((tick, len(self.items), bytes(data)))

    def note(self, tick, ch, note, vel, length, off_with_zero=False):
        self.add(tick, 0x90 | ch, note, vel)
        if off_with_zero:
            self.add(tick + length, 0x90 | ch, note, 0)
        else:
            self.add(tick + length, 0x80 | ch, note, 64)

    def cc(self, tick, ch, num, val):
        self.add(tick, 0xB0 | ch, num, val)

    def program(self, tick, ch, prog):
        self.add(tick, 0xC0 | ch, prog)

    def bend(self, tick, ch, value):
        value += 8192
        self.add(tick, 0xE0 | ch, value & 0x7F, (value >> 7) & 0x7F)

    def bend_range(self, tick, ch, semitones):
        self.cc(tick, ch, 101, 0)
        self.cc(tick, ch, 100, 0)
        self.cc(tick, ch, 6, semitones)

    def tempo(self, tick, usec):
        self.add(tick, 0xFF, 0x51, 3, (usec >> 16) & 0xFF, (usec >> 8) & 0xFF, usec & 0xFF)

    def meta(self, tick, mtype, payload):
        self.add(tick, 0xFF, mtype, *vlq(len(payload)), *payload)

    def sysex(self, tick, payload, intro=0xF0):
        self.add(tick, intro, *vlq(len(payload)), *payload)

    def raw(self, tick, *data):
        """Bytes written verbatim, without running-status handling."""
        self.items.append((tick, len(self.items), None, bytes(data)))

    def encode(self):
        out = bytearray()
        prev = 0
        running = None
        for item in sorted(self.items, key=lambda it: (it[0], it[1])):
            tick = item[0]
            out += vlq(tick - prev)
            prev = tick
            if len(item) == 4:
                out += item[3]
                running = None
                continue
            data = item[2]
            status = data[0]
            if 0x80 <= status <= 0xEF:
                if self.running_status and status == running:
                    out += data[1:]
                else:
                    out += data
                running = status
            else:
                out += data
                if status == 0xFF:
                    running = None
        out += vlq(0) + b'\xff\x2f\x00'
        return b'MTrk' + len(out).to_bytes(4, 'big') + out


def smf(tracks, division=96, fmt=1):
    head = b'MThd' + (6).to_bytes(4, 'big') + fmt.to_bytes(2, 'big') + \
        len(tracks).to_bytes(2, 'big') + division.to_bytes(2, 'big')
    return head + b''.join(t.encode() for t in tracks)


GM_ON = [0x7E, 0x7F, 0x09, 0x01, 0xF7]


def gs_drum_part(part, on):
    return [0x41, 0x10, 0x42, 0x12, 0x40, 0x10 | part, 0x15, 1 if on else 0, 0x00, 0xF7]


def wave_mode(on):
    return [0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 1 if on else 0, 0xF7]


def wave_upload(slot, samples):
    return [0x77, 0x10, 0x42, 0x12, 0xF1, slot, 0x00] + [s & 0xFF for s in samples] + [0xF7]


def song_basic(rng):
    """Melodic notes on several channels, programs, pan/volume/expression, tempo changes."""
    tempo = Track()
    tempo.tempo(0, 400000)
    tempo.meta(0, 0x03, b'basic')
    tempo.tempo(192, 300000)
    tempo.tempo(192, 350000)
    tempo.tempo(300, 0)
    tempo.tempo(384, 600000)
    a = Track()
    b = Track(running_status=False)
    for ch, prog in ((0, 0), (1, 19), (2, 28), (3, 80), (4, 48), (5, 122)):
        a.program(0, ch, prog)
        a.cc(0, ch, 7, rng.randrange(40, 128))
        a.cc(0, ch, 10, rng.randrange(0, 128))
    for i in range(40):
        ch = rng.randrange(6)
        t = rng.randrange(0, 420)
        (a if i % 2 else b).note(t, ch, rng.randrange(36, 96), rng.randrange(1, 128),
                                 rng.randrange(4, 80), off_with_zero=i % 3 == 0)
    for i in range(12):
        b.cc(rng.randrange(0, 420), rng.randrange(6), 11, rng.randrange(0, 128))
        b.cc(rng.randrange(0, 420), rng.randrange(6), 10, rng.randrange(0, 128))
    b.program(200, 0, 15)  # decaying waveform in the SCC set
    b.note(200, 0, 60, 100, 150)
    b.note(210, 0, 60, 90, 100)  # same note twice, one note-off releases both
    return smf([tempo, a, b], division=96)


def song_drums(rng):
    """Every drum instrument, drum programs 48 and 50, a second drum part via GS."""
    t = Track()
    t.sysex(0, gs_drum_part(3, True))  # part 3 -> channel index 2
    t.cc(0, 9, 7, 127)
    t.cc(0, 2, 7, 90)
    t.cc(0, 2, 10, 20)
    notes = [35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 30, 60]
    tick = 0
    for n in notes:
        t.note(tick, 9, n, rng.randrange(60, 128), 10)
        tick += 12
    t.program(tick, 9, 48)
    for n in (41, 45, 53, 55):
        t.note(tick, 9, n, 110, 5)
        tick += 12
    t.program(tick, 9, 50)
    for n in (45, 60):
        t.note(tick, 9, n, 120, 5)
        tick += 12
    for i in range(30):
        t.note(rng.randrange(0, tick), 2, rng.choice(notes), rng.randrange(1, 128), 3)
    t.note(tick, 2, 38, 127, 4)
    t.cc(tick + 4, 2, 123, 0)  # all notes off also releases drums
    t.note(tick + 10, 9, 49, 127, 2)
    t.cc(tick + 30, 9, 120, 0)  # all sound off cuts the crash
    t.sysex(tick + 30, gs_drum_part(3, False))
    t.note(tick + 31, 2, 64, 100, 20)
    return smf([t], division=96, fmt=0)


def song_bends(rng):
    """Pitch bends with range changes, sustain pedal, controllers 121, 123 and 120."""
    t = Track()
    t.program(0, 0, 5)
    t.program(0, 1, 80)
    t.program(0, 4, 40)
    t.note(0, 0, 69, 127, 300)
    t.note(0, 1, 57, 100, 300)
    t.note(10, 4, 64, 100, 200)
    for i in range(30):
        t.bend(5 + i * 8, 0, rng.randrange(-8192, 8192))
    t.bend_range(100, 1, 12)
    t.bend(101, 1, 8191)
    t.bend_range(150, 1, 25)  # ignored: above 24
    t.bend(151, 1, -8192)
    t.cc(160, 1, 98, 0)
    t.cc(160, 1, 99, 0)
    t.cc(161, 1, 6, 7)  # still the registered parameter 0/0
    t.bend(162, 1, 4096)
    t.bend(200, 0, 3000)
    t.cc(220, 0, 121, 0)
    t.cc(230, 4, 64, 127)
    t.cc(240, 4, 123, 0)
    t.note(250, 4, 67, 90, 20)
    t.cc(250, 4, 64, 0)
    t.note(260, 5, 50, 100, 200)
    t.note(262, 5, 62, 100, 200)
    t.cc(280, 5, 120, 0)
    t.bend(290, 9, 8000)  # ignored on the drum channel
    t.note(300, 3, 72, 120, 40)
    t.cc(300, 3, 64, 1)
    t.bend(310, 3, -4000)
    return smf([t], division=120, fmt=0)


def song_custom(rng):
    """User waveforms: upload, mode on and off, GM System On in the middle."""
    t = Track()
    for slot in (0, 5, 80):
        t.sysex(0, wave_upload(slot, [rng.randrange(-128, 128) for _ in range(32)]))
    t.sysex(0, wave_upload(6, [1] * 31))  # 39 bytes: ignored
    t.sysex(0, [0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 0x01, 0xF7], intro=0xF7)  # ignored
    t.sysex(0, wave_mode(True))
    t.program(0, 1, 5)
    t.note(0, 0, 60, 120, 100)  # program 80, uploaded
    t.note(0, 1, 64, 120, 100)
    t.note(20, 2, 67, 100, 60)  # program 80 on channel 2
    t.program(110, 0, 3)
    t.sysex(110, GM_ON)  # applied after the program change at the same tick
    t.note(120, 0, 60, 120, 60)
    t.sysex(200, wave_mode(True))
    t.note(200, 0, 72, 120, 60)
    t.sysex(260, wave_mode(False))
    t.note(261, 0, 72, 120, 40)
    t.sysex(262, [0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7])  # another maker: ignored
    return smf([t], division=96, fmt=0)


def song_dense(rng):
    """More notes than voices: stealing, released-voice preference, age ties."""
    t = Track()
    t.program(0, 0, 46)
    t.program(0, 1, 0)
    for i in range(50):
        t.note(0, i % 2, 30 + i, 100, 40 + (i % 5))
    for i in range(20):
        t.note(20 + i, 2, 40 + i, 80, 5)
    t.note(60, 9, 38, 127, 2)
    t.note(60, 9, 38, 127, 2)
    return smf([t], division=96, fmt=0)


def song_edge(rng):
    """Reader corner cases that still play: system bytes, SMF quirks, odd data bytes."""
    t = Track()
    tick = 0
    for delta, data in (
            (0, [0xF6]),
            (0, [0xF1, 0x10]),
            (0, [0xC0, 3]),
            (0, [0x90, 0x45, 0x60]),
            (0, [0x48, 0x50]),  # running status continues
            (0, [0xF0, 0x02, 0x01, 0x02]),  # running status survives a SysEx event
            (0, [0x4C, 0x40]),
            (10, [0xF2, 0x00, 0x00]),
            (0, [0x80, 0x45, 0x00]),
            (5, [0xB0, 0x07, 0xC8]),  # volume 200: later notes clamp to level 127
            (0, [0xB0, 0x0B, 0x90]),  # expression 144
            (0, [0x90, 0x86, 0xFF]),  # note 134 at velocity 255
            (3, [0xA0, 0x10, 0x10]),
            (0, [0xD0, 0x10]),
            (40, [0x80, 0x86, 0x00]),
            (0, [0x80, 0x48, 0x00]),
            (0, [0x80, 0x4C, 0x00]),
            (1, [0x90, 0x30, 0x7F]),
            (1, [0xFF, 0x51, 0x04, 0x01, 0x02, 0x03, 0x04]),  # tempo of length 4: skipped
            (30, [0x80, 0x30, 0x00])):
        tick += delta
        t.raw(tick, *data)
    u = Track()
    u.note(0, 1, 1, 127, 60)  # very low note
    u.note(0, 1, 127, 127, 60)  # above 22050 Hz: silent
    u.tempo(0, 0)
    u.tempo(0, 700000)
    u.tempo(50, 100000)
    return smf([t, u], division=0)


def song_extreme(rng):
    """Limits: a fade to silence while held, very low and inaudibly high notes, clipping."""
    t = Track()
    t.program(0, 0, 28)  # sustain fades to zero in 22050 samples while the key is held
    t.note(0, 0, 72, 127, 150)
    t.bend_range(0, 1, 24)
    t.bend(0, 1, -8192)
    t.note(0, 1, 0, 127, 100)
    t.raw(0, 0x94, 0x8C, 0x7F)  # note 140 lies above 22050 Hz
    t.raw(60, 0x84, 0x8C, 0x00)
    t.sysex(0, wave_upload(81, [-128] * 32))
    t.sysex(0, wave_mode(True))
    t.program(0, 2, 81)
    t.cc(0, 2, 7, 127)
    t.cc(0, 2, 10, 127)
    for i in range(8):
        t.note(1, 2, 60, 127, 20)
    t.cc(30, 3, 11, 0)
    t.program(30, 3, 46)
    t.note(30, 3, 50, 127, 120)  # decays to its sustain end while held
    return smf([t], division=96, fmt=0)


def song_random(rng, index):
    """Random everything, seeded."""
    tracks = [Track() for _ in range(3)]
    tracks[0].tempo(0, rng.randrange(300000, 700000))
    for _ in range(3):
        tracks[0].tempo(rng.randrange(0, 600), rng.randrange(200000, 900000))
    for _ in range(60):
        tr = rng.choice(tracks)
        ch = rng.randrange(16)
        tick = rng.randrange(0, 600)
        kind = rng.random()
        if kind < 0.55:
            tr.note(tick, ch, rng.randrange(24, 108), rng.randrange(1, 128), rng.randrange(1, 120),
                    off_with_zero=rng.random() < 0.3)
        elif kind < 0.65:
            tr.program(tick, ch, rng.randrange(128))
        elif kind < 0.75:
            tr.bend(tick, ch, rng.randrange(-8192, 8192))
        elif kind < 0.8:
            tr.bend_range(tick, ch, rng.randrange(0, 30))
        elif kind < 0.97:
            tr.cc(tick, ch, rng.choice((7, 10, 11, 64, 121, 123, 0)), rng.randrange(128))
        else:
            tr.cc(tick, ch, 120, 0)
    tracks[1].sysex(rng.randrange(0, 300), gs_drum_part(rng.randrange(1, 16), True))
    tracks[2].sysex(0, wave_upload(rng.randrange(128), [rng.randrange(-128, 128) for _ in range(32)]))
    if index % 2:
        tracks[2].sysex(rng.randrange(0, 300), wave_mode(True))
    return smf(tracks, division=rng.choice((96, 120, 480)) if index else 96)


def malformed():
    """Files the reader must refuse, or accept, each for one precise reason."""
    note = b'\x00\x90\x40\x40'
    eot = b'\x00\xff\x2f\x00'

    def chunk(body, kind=b'MTrk', length=None):
        return kind + (len(body) if length is None else length).to_bytes(4, 'big') + body

    def head(ntracks=1, division=96, length=6, fmt=1):
        return b'MThd' + length.to_bytes(4, 'big') + fmt.to_bytes(2, 'big') + \
            ntracks.to_bytes(2, 'big') + division.to_bytes(2, 'big') + b'\0' * (length - 6)

    return {
        'eot_past_chunk': head() + chunk(note + b'\x00\xff\x2f\x04\x00'),
        'meta_at_chunk_end': head() + chunk(note + b'\x00\xff'),
        'meta_length_past_chunk': head() + chunk(note + b'\x00\xff\x01\x05ab'),
        'delta_at_chunk_end': head() + chunk(note + b'\x00'),
        'vlq_five_bytes': head() + chunk(b'\x81\x81\x81\x81\x00\x90\x40\x40'),
        'parse_error_before_bad_chunk': head(2) + chunk(b'\x00\x40\x40') + b'XTrk\0\0\0\0',
        'bad_chunk_before_parse_error': head(2) + b'XTrk\0\0\0\0' + chunk(b'\x00\x40\x40'),
        'truncated_second_chunk': head(2) + chunk(note + eot) + chunk(note, length=99),
        'running_status_after_meta': head() + chunk(note + b'\x00\xff\x01\x00\x00\x41\x40'),
        'system_f4': head() + chunk(note + b'\x00\xf4'),
        'system_skip_past_chunk': head() + chunk(note + b'\x00\xf2\x00'),
        'sysex_past_chunk': head() + chunk(note + b'\x00\xf0\x05\x01'),
        'smpte': head(division=0xE728) + chunk(note + eot),
        'header_length_5': head(length=6)[:4] + (5).to_bytes(4, 'big') + head()[8:] + chunk(note),
        'header_past_file': head(length=6)[:4] + (60).to_bytes(4, 'big') + head()[8:] + chunk(note),
        'only_meta': head() + chunk(b'\x00\xff\x03\x01a' + eot),
        'only_tempo': head() + chunk(b'\x00\xff\x51\x03\x07\xa1\x20' + eot),
        'no_tracks': head(0),
        'short': b'MThd\0\0\0\x06\0\x01\0',
        'long_header': head(length=10) + chunk(note + eot),
        'extra_chunks': head() + chunk(note + eot) + b'JUNKJUNK' + b'\x00',
        'bytes_after_eot': head() + chunk(note + eot + b'\x00\xf4\xf4'),
        'wrapping_ticks': head() + chunk(note + b'\xff\xff\xff\x7f\x80\x40\x00' * 17),
    }


def main(outdir, baddir=None):
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(20240611)
    songs = {
        'basic': song_basic(rng),
        'drums': song_drums(rng),
        'bends': song_bends(rng),
        'custom': song_custom(rng),
        'dense': song_dense(rng),
        'edge': song_edge(rng),
        'extreme': song_extreme(rng),
        'random1': song_random(rng, 1),
        'random2': song_random(rng, 2),
    }
    for name, data in songs.items():
        with open(os.path.join(outdir, name + '.mid'), 'wb') as f:
            f.write(data)
    if baddir:
        os.makedirs(baddir, exist_ok=True)
        for name, data in malformed().items():
            with open(os.path.join(baddir, name + '.mid'), 'wb') as f:
                f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:3]))
