#!/usr/bin/env python3
"""usage: make_midi.py OUTDIR [NAME...]   (all songs when no NAME is given)
"""
# Small Standard MIDI Files for the tests, each a few seconds long and exercising one area:
# melodic voices with bends, controllers and tempo changes; the drum kit with rhythm-part
# switching; uploaded waveforms and GM System On.

import os
import sys


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def track(events):
    # events: (tick, bytes) pairs; stable-sorted by tick, End of Track appended.
    data = bytearray()
    now = 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        data += vlq(tick - now) + bytes(message)
        now = tick
    data += b"\x00\xff\x2f\x00"
    return b"MTrk" + len(data).to_bytes(4, "big") + bytes(data)


def smf(tracks, division=480, fmt=1):
    header = b"MThd" + (6).to_bytes(4, "big")
    header += fmt.to_bytes(2, "big") + len(tracks).to_bytes(2, "big") + division.to_bytes(2, "big")
    return header + b"".join(track(t) for t in tracks)


def tempo(us_per_quarter):
    return b"\xff\x51\x03" + us_per_quarter.to_bytes(3, "big")


def note_on(ch, note, vel):
    return bytes([0x90 | ch, note, vel])


def note_off(ch, note):
    return bytes([0x80 | ch, note, 0x40])


def cc(ch, number, value):
    return bytes([0xB0 | ch, number, value])


def program(ch, number):
    return bytes([0xC0 | ch, number])


def bend(ch, value):
    # value: -8192 ... 8191.
    raw = value + 8192
    return bytes([0xE0 | ch, raw & 0x7F, raw >> 7])


def sysex(payload):
    # payload: the bytes after F0, terminating F7 included.
    return b"\xf0" + vlq(len(payload)) + bytes(payload)


def gm_on():
    return sysex([0x7E, 0x7F, 0x09, 0x01, 0xF7])


def gs_rhythm_part(part, on):
    return sysex([0x41, 0x10, 0x42, 0x12, 0x40, 0x10 | part, 0x15, 1 if on else 0, 0x00, 0xF7])


def wave_mode(on):
    return sysex([0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 1 if on else 0, 0xF7])


def wave_upload(slot, samples):
    data = [s & 0xFF for s in samples]
    return sysex([0x77, 0x10, 0x42, 0x12, 0xF1, slot, 0x00] + data + [0xF7])


def melodic():
    conductor = [(0, tempo(500000)), (1920, tempo(400000)), (2880, tempo(650000))]
    lead = [(0, program(0, 0)), (0, cc(0, 101, 0)), (0, cc(0, 100, 0)), (0, cc(0, 6, 7)),
            (0, cc(0, 10, 40))]
    for i, note in enumerate([60, 64, 67, 72, 76, 79, 84, 72]):
        lead += [(i * 240, note_on(0, note, 100)), (i * 240 + 200, note_off(0, note))]
    for i in range(24):
        lead.append((1920 + i * 40, bend(0, -8192 + i * 700)))
    lead += [(1920, note_on(0, 69, 110)), (3000, note_off(0, 69)), (3000, bend(0, 0))]
    bass = [(0, program(1, 38)), (0, cc(1, 7, 90)), (0, cc(1, 10, 100))]
    for i, note in enumerate([36, 43, 41, 38, 36, 31]):
        bass += [(i * 480, note_on(1, note, 120)), (i * 480 + 420, note_off(1, note))]
    bass += [(960, cc(1, 11, 70)), (1500, cc(1, 11, 127)), (2200, cc(1, 121, 0))]
    pad = [(0, program(2, 16)), (240, cc(2, 64, 127)), (240, note_on(2, 55, 80)),
           (240, note_on(2, 59, 80)), (300, note_on(2, 62, 80)), (900, note_off(2, 55)),
           (900, note_off(2, 59)), (1400, cc(2, 64, 0)), (1400, note_off(2, 62)),
           (2400, program(2, 80)), (2400, note_on(2, 67, 90)), (2400, note_on(2, 71, 90)),
           (2600, cc(2, 10, 0)), (2800, cc(2, 123, 0)), (3200, note_on(2, 74, 90)),
           (3300, cc(2, 120, 0)), (3400, note_on(2, 50, 60)), (3600, note_off(2, 50))]
    return smf([conductor, lead, bass, pad])


def drums():
    kit = [(0, cc(9, 7, 110))]
    pattern = [36, 42, 38, 42, 36, 46, 38, 49, 51, 45, 47, 48, 50, 41, 43, 37, 39, 54, 44, 30]
    for i, note in enumerate(pattern):
        kit += [(i * 120, note_on(9, note, 60 + (i * 17) % 68)), (i * 120 + 60, note_off(9, note))]
    kit += [(2400, program(9, 48)), (2400, note_on(9, 45, 100)), (2520, note_on(9, 50, 100)),
            (2640, program(9, 50)), (2640, note_on(9, 45, 127)), (2760, note_on(9, 60, 127)),
            (2880, cc(9, 123, 0))]
    # Channel 4 becomes a rhythm part, plays, and turns melodic again.
    other = [(0, gs_rhythm_part(4, True)), (240, note_on(3, 38, 120)), (480, note_on(3, 36, 100)),
             (480, note_off(3, 36)), (960, gs_rhythm_part(4, False)), (960, note_on(3, 60, 90)),
             (1200, note_off(3, 60)), (1300, bend(3, 4000))]
    # A burst that exhausts the voice pool.
    burst = []
    for i in range(50):
        burst.append((3000 + (i % 5), note_on(i % 16 if i % 16 != 9 else 0, 40 + i, 90)))
    burst.append((3500, cc(0, 123, 0)))
    for ch in range(16):
        burst.append((3600, cc(ch, 120, 0)))
    return smf([kit, other, burst])


def waves():
    saw = [-128 + 8 * i for i in range(32)]
    spiky = [127 if i % 7 == 0 else -100 + 5 * i for i in range(32)]
    events = [(0, wave_upload(0, saw)), (0, wave_upload(0x81, spiky)), (0, wave_mode(True)),
              (0, program(0, 0)), (0, program(1, 1)), (0, program(2, 2))]
    events += [(0, note_on(0, 57, 100)), (480, note_off(0, 57)), (240, note_on(1, 64, 100)),
               (720, note_off(1, 64)), (480, note_on(2, 69, 100)), (960, note_off(2, 69))]
    # Mode off: back to the instrument set; then GM System On resets everything but the banks.
    events += [(960, wave_mode(False)), (960, note_on(0, 60, 100)), (1400, note_off(0, 60)),
               (1440, program(0, 33)), (1440, gm_on()), (1440, note_on(0, 62, 100)),
               (1900, note_off(0, 62)), (1920, wave_mode(True)), (1920, program(3, 1)),
               (1920, note_on(3, 67, 100)), (2400, note_off(3, 67))]
    return smf([events], division=240)


def minute():
    """A minute at 120 bpm: lead, bass and drums on every beat, for tests that seek and play on."""
    lead, bass, kit = [(0, program(0, 80))], [(0, program(1, 38))], []
    for beat in range(120):
        t = beat * 480
        note = 60 + (beat * 5) % 17
        lead += [(t, note_on(0, note, 100)), (t + 400, note_off(0, note))]
        if beat % 2 == 0:
            bass += [(t, note_on(1, 36 + beat % 7, 110)), (t + 900, note_off(1, 36 + beat % 7))]
        drum = 36 if beat % 2 == 0 else 38
        kit += [(t, note_on(9, drum, 100)), (t + 120, note_off(9, drum))]
    return smf([[(0, tempo(500000))], lead, bass, kit])


SONGS = {"melodic": melodic, "drums": drums, "waves": waves, "minute": minute}


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name in argv[2:] or SONGS:
        with open(os.path.join(out_dir, name + ".mid"), "wb") as f:
            f.write(SONGS[name]())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
