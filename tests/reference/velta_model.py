#!/usr/bin/env python3
"""Independent bit-exact model of VELTA's MIDI reader, synthesizer and transport.

Single-precision arithmetic is emulated by rounding every float operation
through IEEE binary32 (struct 'f'); double-precision steps stay Python floats.
Used to cross-check velta-render sample for sample.
"""

import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import velta_tables  # noqa: E402

_F32 = struct.Struct('<f')
_pack = _F32.pack
_unpack = _F32.unpack
_F32X2 = struct.Struct('<2f')
_pack2 = _F32X2.pack
_unpack2 = _F32X2.unpack


def f32(x):
    return _unpack(_pack(x))[0]


def round_half_away(x):
    """llround(): nearest integer, halves away from zero."""
    a = abs(x)
    r = math.floor(a)
    if a - r >= 0.5:
        r += 1
    return -r if x < 0 else r


def to_i32(x):
    x &= 0xFFFFFFFF
    return x - 0x100000000 if x & 0x80000000 else x


# ---------------------------------------------------------------- rand()


class GlibcRand:
    """glibc rand() with its default (never seeded, i.e. seed 1) TYPE_3 state."""

    def __init__(self, seed=1):
        r = [0] * 34
        r[0] = seed
        for i in range(1, 31):
            hi, lo = divmod(r[i - 1], 127773)
            word = 16807 * lo - 2836 * hi
            if word < 0:
                word += 2147483647
            r[i] = word
        for i in range(31, 34):
            r[i] = r[i - 31]
        self.r = r
        for _ in range(310):
            self._step()

    def _step(self):
        r = self.r
        v = (r[-31] + r[-3]) & 0xFFFFFFFF
        r.append(v)
        del r[0]
        return v

    def __call__(self):
        return self._step() >> 1


# ---------------------------------------------------------------- reader


class LoadError(Exception):
    pass


class MidiEvent:
    __slots__ = ('time', 'status', 'data1', 'data2', 'sysex')

    def __init__(self, time, status, data1, data2, sysex=None):
        self.time = time
        self.status = status
        self.data1 = data1
        self.data2 = data2
        self.sysex = sysex


class Song:
    def __init__(self):
        self.events = []
        self.length_frames = 0
        self.division = 0
        self.rate = 0
        self.tempo_map = []  # [frame, tick, tempo]


PARSE_ERROR = 'Could not parse MIDI track.'


def _read_vlq(data, pos, end):
    value = 0
    for n in range(4):
        if pos >= end:
            raise LoadError(PARSE_ERROR)
        b = data[pos]
        pos += 1
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            return value, pos
        if n == 3:
            raise LoadError(PARSE_ERROR)
    raise AssertionError


def _parse_track(data, start, end, raws, seq):
    """Appends (tick, kind, sequence, payload) tuples; returns the next sequence number."""
    pos = start
    tick = 0
    running = 0
    while pos < end:
        delta, pos = _read_vlq(data, pos, end)
        tick = (tick + delta) & 0xFFFFFFFF
        if pos >= end:
            raise LoadError(PARSE_ERROR)
        b = data[pos]
        if 0x80 <= b <= 0xEF or b < 0x80:
            if b >= 0x80:
                running = b
                pos += 1
            elif running == 0:
                raise LoadError(PARSE_ERROR)
            status = running
            count = 1 if (status & 0xF0) in (0xC0, 0xD0) else 2
            if pos + count > end:
                raise LoadError(PARSE_ERROR)
            d1 = data[pos]
            d2 = data[pos + 1] if count == 2 else 0
            pos += count
            raws.append((tick, 1, seq, (status, d1, d2)))
            seq += 1
        elif b == 0xFF:
            running = 0
            pos += 1
            if pos >= end:
                raise LoadError(PARSE_ERROR)
            mtype = data[pos]
            pos += 1
            length, pos = _read_vlq(data, pos, end)
            if pos + length > end:
                raise LoadError(PARSE_ERROR)
            if mtype == 0x2F:
                return seq
            if mtype == 0x51 and length == 3:
                tempo = (data[pos] << 16) | (data[pos + 1] << 8) | data[pos + 2]
                raws.append((tick, 0, seq, tempo))
                seq += 1
            pos += length
        elif b in (0xF0, 0xF7):
            pos += 1
            length, pos = _read_vlq(data, pos, end)
            if pos + length > end:
                raise LoadError(PARSE_ERROR)
            payload = bytes([b]) + bytes(data[pos:pos + length])
            pos += length
            raws.append((tick, 2, seq, payload))
            seq += 1
        else:
            running = 0
            pos += 1
            if b in (0xF1, 0xF3):
                skip = 1
            elif b == 0xF2:
                skip = 2
            elif b in (0xF6, 0xF8, 0xFA, 0xFB, 0xFC, 0xFE):
                skip = 0
            else:
                raise LoadError(PARSE_ERROR)
            if pos + skip > end:
                raise LoadError(PARSE_ERROR)
            pos += skip
    return seq


def parse_song(data, output_rate):
    size = len(data)
    if size == 0:
        raise LoadError('MIDI file is empty.')
    if size < 14 or data[0:4] != b'MThd':
        raise LoadError('Invalid MIDI header.')
    hlen = int.from_bytes(data[4:8], 'big')
    if hlen < 6 or size < hlen + 8:
        raise LoadError('Invalid MIDI header length.')
    division = int.from_bytes(data[12:14], 'big')
    if division & 0x8000:
        raise LoadError('SMPTE time-division MIDI is not supported.')
    if division == 0:
        division = 480
    ntracks = int.from_bytes(data[10:12], 'big')
    if ntracks == 0:
        raise LoadError('MIDI has no events.')
    pos = 8 + hlen
    raws = []
    seq = 0
    for _ in range(ntracks):
        if pos + 8 > size or data[pos:pos + 4] != b'MTrk':
            raise LoadError('Invalid MIDI track chunk.')
        length = int.from_bytes(data[pos + 4:pos + 8], 'big')
        if pos + 8 + length > size:
            raise LoadError('Truncated MIDI track.')
        seq = _parse_track(data, pos + 8, pos + 8 + length, raws, seq)
        pos += 8 + length
    if not raws:
        raise LoadError('MIDI has no events.')
    raws.sort(key=lambda r: (r[0], r[1], r[2]))

    rate = output_rate if output_rate > 0 else 0
    song = Song()
    song.division = division
    song.rate = rate
    song.tempo_map = [[0, 0, 500000]]
    t = 0.0
    tempo = 500000
    prev = 0
    for tick, kind, _, payload in raws:
        t += float(tick - prev) * float(tempo) * float(rate) / (float(division) * 1000000.0)
        prev = tick
        frame = round_half_away(t)
        if kind == 1:
            song.events.append(MidiEvent(frame, payload[0], payload[1], payload[2]))
        elif kind == 2:
            song.events.append(MidiEvent(frame, 0xF0, 0, 0, payload))
        else:
            if payload != 0:
                tempo = payload
            last = song.tempo_map[-1]
            if last[0] == frame and last[1] == tick:
                last[2] = tempo
            else:
                song.tempo_map.append([frame, tick, tempo])
    song.length_frames = round_half_away(t) + 4 * rate
    return song


def load_file(path, output_rate):
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError:
        raise LoadError('Could not open MIDI file.')
    return parse_song(data, output_rate)


def dump_lines(song):
    out = []
    for e in song.events:
        line = 'ev %d %02x %d %d' % (e.time, e.status, e.data1, e.data2)
        if e.sysex is not None:
            line += ' sysex ' + e.sysex.hex()
        out.append(line)
    for frame, tick, tempo in song.tempo_map:
        out.append('tempo %d %d %d' % (frame, tick, tempo))
    out.append('length %d' % song.length_frames)
    out.append('division %d' % song.division)
    out.append('rate %d' % song.rate)
    out.append('events %d' % len(song.events))
    return out


# ---------------------------------------------------------------- synthesizer constants

FULL_LEVEL = 1073725440
F_1_127 = f32(1.0 / 127.0)
F_0_01 = f32(0.01)
F_MIN_FREQ = f32(0.0001)
F_MIN_PERIOD = f32(0.000001)
F_1_2 = f32(1.2)
_EXPRESSION_FACTOR = [f32(float(e) * F_1_127) for e in range(256)]
ALL_ONES = 0xFFFFFFFFFFFFFFFF

SEMITONE = [1.0, 1.059463, 1.122462, 1.189207, 1.259921, 1.3348401, 1.414214, 1.498307,
            1.587401, 1.681793, 1.7817971, 1.887749]
OCTAVE = [8.1759377, 16.351875, 32.703751, 65.407501, 130.815, 261.63, 523.26001, 1046.52,
          2093.04, 4186.0801, 8372.1602, 16744.32, 33488.641, 66977.281, 133954.56, 267909.12,
          535818.25, 1071636.5, 2143273.0, 4286546.0, 8573092.0, 17146184.0, 34292368.0,
          68584736.0, 137169470.0, 274338940.0, 548677890.0, 1097355800.0, 2194711600.0,
          4389423100.0]

DETUNE = [(n // 4) + 3 * (n % 4) - 14 for n in range(16)]

# Drum rows: kind, pitch note (None = the note itself), hold, level factor, slope, slide.
DRUMS = {
    'bass': (5, 38, 540, f32(1.8333333), f32(-0.004), 0.0),
    'snare': (4, 140, 1600, f32(0.41666666), f32(-0.005), f32(0.8)),
    'snare_tone': (5, 63, 1200, f32(0.74999994), 0.0, f32(-0.6)),
    'low_tom': (5, 50, 1200, f32(0.74999994), 0.0, f32(-0.6)),
    'mid_tom': (5, 58, 1200, f32(0.74999994), 0.0, f32(-0.6)),
    'high_tom': (5, 66, 1200, f32(0.74999994), 0.0, f32(-0.6)),
    'p48_tom': (5, None, 1200, f32(0.5833333), 0.0, f32(-0.5)),
    'closed_hh': (4, 150, 700, f32(0.38333333), 0.0, 0.0),
    'open_hh': (4, 167, 2500, f32(0.38333333), f32(-0.01), 0.0),
    'crash': (4, 170, 15000, f32(0.5416666), f32(-0.005), 0.0),
    'ride': (4, 120, 1200, f32(0.5), 0.0, 0.0),
    'noise': (4, 150, 500, f32(0.25), 0.0, 0.0),
}

DRUM_BY_NOTE = {35: 'bass', 36: 'bass', 38: 'snare', 40: 'snare', 41: 'low_tom', 43: 'low_tom',
                45: 'mid_tom', 47: 'mid_tom', 48: 'high_tom', 50: 'high_tom', 42: 'closed_hh',
                44: 'closed_hh', 54: 'closed_hh', 46: 'open_hh', 49: 'crash', 51: 'ride'}


def note_frequency(note):
    if note < 0:
        return f32(8.175938)
    octave, semi = divmod(note, 12)
    base = OCTAVE[octave] if octave < 30 else 261.63
    return f32(SEMITONE[semi] * base)


class Voice:
    __slots__ = ('active', 'stop_pending', 'age', 'channel', 'note', 'program', 'kind',
                 'pitch_note', 'pending_pitch_note', 'phase_counter', 'rate', 'frequency',
                 'period', 'period_start', 'period_end', 'cents', 'cents_pending',
                 'pending_cents', 'cents_slide', 'expression', 'expression_pending',
                 'pending_expression', 'pan', 'pan_pending', 'pending_pan', 'gain_left',
                 'gain_right', 'level', 'level_slope', 'hold_samples', 'wave', 'drum_wave',
                 'envelope', 'noise_value', 'env_stage', 'env_level', 'attack_step',
                 'decay_step', 'env_sustain', 'sustain_step', 'release_step')

    def clear(self):
        for name in Voice.__slots__:
            setattr(self, name, 0)
        self.rate = 0.0
        self.frequency = self.period = self.period_start = self.period_end = 0.0
        self.cents = self.pending_cents = self.cents_slide = 0.0
        self.gain_left = self.gain_right = self.level = self.level_slope = 0.0
        self.wave = self.drum_wave = self.envelope = None

    def rest(self, sample_rate):
        self.clear()
        self.kind = 1
        self.pitch_note = 60
        self.pending_pitch_note = -1
        self.expression = 127
        self.env_stage = 4
        self.pan = 64
        self.gain_left = f32(63.0 * F_1_127)
        self.gain_right = f32(64.0 * F_1_127)
        self.rate = f32(float(sample_rate))

    def request_stop(self):
        self.note = -1
        self.stop_pending = 1

    def set_gains(self):
        self.gain_left = f32(float(127 - self.pan) * F_1_127)
        self.gain_right = f32(float(self.pan) * F_1_127)

    def set_pitch(self, note):
        f = note_frequency(note)
        cents = self.cents
        if cents != 0.0:
            k = int(cents)
            q = int(k / 100)
            r = f32(cents - float(100 * q))
            f0 = note_frequency(note + q)
            if cents > 0.0:
                f1 = note_frequency(note + q + 1)
                f = f32(f0 + f32(f32(r * F_0_01) * f32(f1 - f0)))
            else:
                f1 = note_frequency(note + q - 1)
                f = f32(f0 + f32(f32(-r * F_0_01) * f32(f1 - f0)))
        self.pitch_note = note
        self.phase_counter = 0
        self.period_start = 0.0
        self.frequency = f if f > F_MIN_FREQ else F_MIN_FREQ
        period = f32(self.rate / self.frequency)
        self.period = period if period >= F_MIN_FREQ else F_MIN_FREQ
        self.period_end = self.period


class Channel:
    __slots__ = ('mute', 'program', 'volume', 'expression', 'bank', 'pan', 'sustain', 'bend',
                 'bend_range', 'bend_cents', 'detune', 'rpn_msb', 'rpn_lsb', 'drum')

    def __init__(self):
        self.mute = 0

    def reset(self, n):
        self.program = 80
        self.volume = 100
        self.expression = 127
        self.bank = 0
        self.pan = 64
        self.sustain = 0
        self.bend = 0
        self.bend_range = 2
        self.bend_cents = 0
        self.detune = DETUNE[n]
        self.rpn_msb = 127
        self.rpn_lsb = 127
        self.drum = 1 if n == 9 else 0


class Player:
    """SynthState + Song + transport of one player."""

    def __init__(self, rate, rand=None):
        self.output_rate = rate
        self.sample_rate = rate if rate >= 1 else 44100
        self.rand = rand if rand is not None else GlibcRand()
        self.instrument_set = 0
        self.custom_wave_mode = 0
        self.custom_waves_present = 0
        self.wave_bank = [[s * lvl for s in smp] for _, lvl, _, smp in velta_tables.WAVES]
        self.wave_bank += [[0] * 32 for _ in range(128 - len(self.wave_bank))]
        self.wave_decay = [f32(float(d) * (1.0 / 65536.0)) for _, _, d, _ in velta_tables.WAVES]
        self.wave_decay += [0.0] * (128 - len(self.wave_decay))
        self.drum_square = [32000] * 16 + [-32000] * 16
        self.set_table = velta_tables.SETS
        self.envelope_table = velta_tables.ENVELOPES
        self.custom_wave_bank = [[0] * 32 for _ in range(128)]
        self.custom_wave_bytes = [[0] * 32 for _ in range(128)]
        self.channels = [Channel() for _ in range(16)]
        self.voices = [Voice() for _ in range(46)]
        self.song = Song()
        self.position = 0
        self.cursor = 0
        self.active = 0
        self.paused = 0
        self.status_text = 'Ready (VELTA236 synth tables loaded)'
        self.reset_synth()
        self.select_instrument_set(0)

    # -------------------------------------------------------------- channels

    def reset_synth(self):
        for n, ch in enumerate(self.channels):
            ch.reset(n)
        for v in self.voices:
            v.rest(self.sample_rate)
        self.custom_wave_mode = 0
        self.custom_waves_present = 0

    def _melodic_wave(self, program):
        w = self.set_table[self.instrument_set][program] & 127
        slope = self.wave_decay[w]
        if self.sample_rate == 22050:
            slope = f32(slope * 2.0)
        return self.wave_bank[w], slope

    def select_instrument_set(self, s):
        s = max(0, min(9, s))
        self.instrument_set = s
        if self.custom_wave_mode:
            return s
        for v in self.voices:
            if v.active and v.kind == 1:
                v.wave, v.level_slope = self._melodic_wave(v.program & 127)
        return s

    # -------------------------------------------------------------- voices

    def voice_allocate(self):
        voices = self.voices
        cand = voices[0]
        for v in voices:
            if not v.active:
                return v
            if v.note < 0 and cand.note >= 0:
                cand = v
            elif to_i32(v.age) > to_i32(cand.age):
                cand = v
        return cand

    def voice_start(self, v, channel, note, velocity):
        ch = self.channels[channel]
        old_pitch = v.pitch_note
        if old_pitch <= 0:
            old_pitch = 60
        v.clear()
        v.channel = channel
        v.note = note
        v.pending_pitch_note = -1
        v.kind = 1
        v.rate = f32(float(self.sample_rate))
        v.active = 1
        v.pitch_note = old_pitch
        v.expression = ch.expression
        v.pending_expression = ch.expression
        v.expression_pending = 1
        level = ch.volume * velocity / 127.0
        v.level = f32(min(max(level, 0.0), 127.0))
        v.cents = v.pending_cents = f32(float(ch.bend_cents + ch.detune))
        v.pending_pan = ch.pan
        v.pan_pending = 1
        v.pan = min(max(ch.pan, 0), 127)
        v.set_gains()
        p = self.envelope_table[ch.program & 127]
        v.envelope = p
        attack, decay, sustain, sustain_samples, _ = p
        v.env_stage = 0
        v.env_level = 0
        v.env_sustain = sustain * 16384
        v.attack_step = _tdiv(FULL_LEVEL, attack) if attack else 0
        v.decay_step = _tdiv(FULL_LEVEL - v.env_sustain, decay) if decay else 0
        v.sustain_step = _tdiv(v.env_sustain, sustain_samples) if sustain_samples else 0
        v.release_step = 0
        if v.attack_step <= 0:
            v.env_stage = 1
            v.env_level = FULL_LEVEL
            if v.decay_step <= 0:
                v.env_stage = 2
                v.env_level = v.env_sustain
        v.set_pitch(v.pitch_note)

    def note_on(self, channel, note, velocity):
        ch = self.channels[channel]
        v = self.voice_allocate()
        self.voice_start(v, channel, note, velocity)
        if ch.drum == 0:
            v.kind = 1
            v.program = ch.program & 127
            if self.custom_wave_mode:
                v.level_slope = 0.0
                v.wave = self.custom_wave_bank[v.program]
            else:
                v.wave, v.level_slope = self._melodic_wave(v.program)
            v.pending_pitch_note = note
            return
        self.drum_note_on(v, channel, note, velocity)

    def _apply_drum(self, v, row, note, base_level):
        kind, pitch, hold, factor, slope, slide = row
        half = self.sample_rate == 22050
        v.kind = kind
        v.pending_pitch_note = note if pitch is None else pitch
        v.hold_samples = hold // 2 if half else hold
        v.level = f32(base_level * factor)
        v.level_slope = f32(slope * 2.0) if half else slope
        v.cents_slide = f32(slide * 2.0) if half else slide
        if v.cents_slide != 0.0:
            v.cents_pending = 1
            v.pending_cents = f32(v.cents + v.cents_slide)

    def drum_note_on(self, v, channel, note, velocity):
        ch = self.channels[channel]
        v.pending_pitch_note = note
        v.kind = 4
        v.drum_wave = self.drum_square
        v.level_slope = 0.0
        v.cents_slide = 0.0
        # 1.2 is a single-precision factor like the kit's other level factors.
        big = min(max(f32(F_1_2 * v.level), 0.0), 127.0)
        program = ch.program & 127
        if program == 50:
            inst = 'snare' if note > 59 else 'bass'
        elif program == 48 and 41 <= note <= 53:
            inst = 'p48_tom'
        else:
            inst = DRUM_BY_NOTE.get(note, 'noise')
        self._apply_drum(v, DRUMS[inst], note, big)
        if inst == 'bass':
            v.level = min(v.level, 127.0)
        if inst != 'snare':
            return
        v2 = self.voice_allocate()
        self.voice_start(v2, channel, note, velocity)
        v2.kind = 5
        v2.drum_wave = self.drum_square
        self._apply_drum(v2, DRUMS['snare_tone'], note, v2.level)
        v2.level = min(max(v2.level, 0.0), 127.0)

    def note_off(self, channel, note, any_note=False):
        ch = self.channels[channel]
        for v in self.voices:
            if not v.active or v.channel != channel or (not any_note and v.note != note):
                continue
            v.note = -1
            release = v.envelope[4]
            if release == 0:
                v.env_stage = 4
                v.request_stop()
                continue
            divisor = 25000 if ch.sustain == 1 else release
            if divisor <= 0:
                v.env_stage = 4
                v.request_stop()
                continue
            v.env_stage = 3
            v.release_step = _tdiv(v.env_level, divisor)
            if v.release_step <= 0:
                v.env_stage = 4
                v.request_stop()

    # -------------------------------------------------------------- dispatch

    def dispatch_events(self, frame):
        events = self.song.events
        count = len(events)
        while self.cursor < count:
            e = events[self.cursor]
            if e.time > frame:
                break
            self.apply_event(e)
            self.cursor += 1

    def _channel_voices(self, n):
        return [v for v in self.voices if v.active and v.channel == n]

    def apply_event(self, e):
        st = e.status
        if st == 0xF0:
            self.apply_sysex(e.sysex)
            return
        n = st & 0x0F
        ch = self.channels[n]
        hi = st & 0xF0
        if hi == 0x80 or (hi == 0x90 and e.data2 == 0):
            if not ch.drum:
                self.note_off(n, e.data1)
        elif hi == 0x90:
            self.note_on(n, e.data1, e.data2)
        elif hi == 0xB0:
            self.control_change(n, e.data1, e.data2)
        elif hi == 0xC0:
            ch.program = e.data1 & 0x7F
        elif hi == 0xE0:
            if ch.drum:
                return
            ch.bend = (e.data2 - 64) * 128 + e.data1
            ch.bend_cents = round_half_away(ch.bend_range * 100.0 * ch.bend * (1.0 / 8192.0))
            cents = f32(float(ch.bend_cents + ch.detune))
            for v in self._channel_voices(n):
                v.cents_pending = 1
                v.pending_cents = cents

    def control_change(self, n, cc, v):
        ch = self.channels[n]
        if cc == 0:
            ch.bank = v
        elif cc == 6:
            if ch.rpn_msb == 0 and ch.rpn_lsb == 0 and v <= 24:
                ch.bend_range = v
        elif cc == 7:
            ch.volume = v
        elif cc == 10:
            ch.pan = v
            for voice in self._channel_voices(n):
                voice.pan_pending = 1
                voice.pending_pan = v
        elif cc == 11:
            ch.expression = v
            for voice in self._channel_voices(n):
                voice.expression_pending = 1
                voice.pending_expression = v
        elif cc == 64:
            ch.sustain = 1 if v != 0 else 0
        elif cc == 100:
            ch.rpn_lsb = v
        elif cc == 101:
            ch.rpn_msb = v
        elif cc == 120:
            for voice in self._channel_voices(n):
                voice.rest(self.sample_rate)
        elif cc == 121:
            ch.expression = 127
            ch.bend_cents = 0
            cents = f32(float(ch.detune))
            for voice in self._channel_voices(n):
                voice.expression_pending = 1
                voice.pending_expression = 127
                voice.cents_pending = 1
                voice.pending_cents = cents
        elif cc == 123:
            self.note_off(n, 0, any_note=True)

    def apply_sysex(self, p):
        if p is None or len(p) < 6 or p[0] != 0xF0:
            return
        if p[1:5] == b'\x7e\x7f\x09\x01':
            self.reset_synth()
        elif len(p) >= 10 and p[1:6] == b'\x41\x10\x42\x12\x40' and (p[6] & 0xF0) == 0x10 \
                and p[7] == 0x15:
            part = p[6] & 0x0F
            n = 9 if part == 0 else (part - 1 if part <= 9 else part)
            self.channels[n].drum = 1 if p[8] != 0 else 0
        elif len(p) >= 9 and p[1:8] == b'\x77\x10\x42\x12\xf0\x00\x00':
            on = 1 if p[8] != 0 else 0
            self.custom_wave_mode = on
            self.custom_waves_present = on
        elif len(p) >= 40 and p[1:6] == b'\x77\x10\x42\x12\xf1' and p[7] == 0x00:
            slot = p[6] & 0x7F
            for i in range(32):
                s = p[8 + i]
                s = s - 256 if s >= 128 else s
                self.custom_wave_bytes[slot][i] = s
                self.custom_wave_bank[slot][i] = s * 256
            self.custom_waves_present = 1

    # -------------------------------------------------------------- render

    def synth_render(self, out, frames):
        """Renders into out (list of 2*frames ints, pre-zeroed). Returns 1 or 0."""
        done = 0
        processed = False
        events = self.song.events
        count = len(events)
        while True:
            self.dispatch_events(self.position)
            if self.cursor < count and events[self.cursor].time != ALL_ONES:
                n = min(events[self.cursor].time - self.position, frames - done)
            else:
                if not any(v.active for v in self.voices):
                    break
                n = frames - done
            self._render_stretch(out, done, n)
            self.position += n
            done += n
            processed = True
            if done >= frames:
                break
        if processed and self.position < self.song.length_frames:
            return 1
        if processed and any(v.active for v in self.voices):
            return 1
        self.status_text = 'Finished'
        self.active = 0
        self.paused = 0
        return 1 if processed else 0

    def _render_stretch(self, out, start, n):
        # Voices only become active between stretches, so the candidates are fixed here.
        live = [v for v in self.voices if v.active and v.channel <= 15]
        muted = [ch.mute for ch in self.channels]
        noise_step = 2 if self.sample_rate == 22050 else 1
        rand = self.rand
        pack = _pack
        unpack = _unpack
        pack2 = _pack2
        unpack2 = _unpack2
        xtab = _EXPRESSION_FACTOR
        for frame in range(start, start + n):
            left = 0.0
            right = 0.0
            freed = False
            for v in live:
                if not v.active:
                    continue
                if not _voice_update(v, rand):
                    freed = True
                    continue
                e = v.expression
                xe = xtab[e] if 0 <= e < 256 else f32(float(e) * F_1_127)
                yl = unpack(pack(v.level * F_1_127))[0]
                g = (v.env_level >> 14) * (1.0 / 65536.0)
                if v.kind == 4:
                    s = float(v.noise_value)
                    v.phase_counter = (v.phase_counter + noise_step) & 0xFFFFFFFF
                else:
                    period = v.period
                    if period <= F_MIN_PERIOD or v.frequency > 22050.0:
                        s = None
                    else:
                        table = v.wave if v.kind == 1 else v.drum_wave
                        d = v.phase_counter - v.period_start
                        p = int(d / period * 32768.0)
                        w = int((d + 1.0) / period * 32768.0) - p
                        if w <= 1:
                            s = float(table[(p >> 10) & 31])
                        else:
                            i = p >> 10
                            acc = 0
                            rest = w
                            pos = p
                            while True:
                                step = (((pos >> 10) + 1) << 10) - pos
                                if step <= 0 or rest < step:
                                    acc += table[i & 31] * rest
                                    break
                                acc += table[i & 31] * step
                                rest -= step
                                i += 1
                                if rest <= 0:
                                    break
                                pos += step
                            s = unpack(pack(acc / w))[0]
                    v.phase_counter = (v.phase_counter + 1) & 0xFFFFFFFF
                v.age = (v.age + 1) & 0xFFFFFFFF
                if muted[v.channel]:
                    continue
                if s is None:
                    x = 0.0
                else:
                    x = unpack(pack(unpack(pack(unpack(pack(s * xe))[0] * yl))[0] * g))[0]
                gl, gr = unpack2(pack2(v.gain_left * x, v.gain_right * x))
                left, right = unpack2(pack2(left + gl, right + gr))
            if freed:
                live = [v for v in live if v.active]
            left, right = unpack2(pack2(left / 5.0, right / 5.0))
            if left > 32767.0:
                out[2 * frame] = 32767
            elif left < -32767.0:
                out[2 * frame] = -32767
            else:
                out[2 * frame] = round(left)
            if right > 32767.0:
                out[2 * frame + 1] = 32767
            elif right < -32767.0:
                out[2 * frame + 1] = -32767
            else:
                out[2 * frame + 1] = round(right)

    # -------------------------------------------------------------- transport

    def load(self, song):
        self.song = song
        self.position = 0
        self.cursor = 0
        self.active = 0
        self.paused = 0
        self.reset_synth()
        self.status_text = 'Loaded MIDI'

    def start_playback(self):
        if not self.song.events:
            self.status_text = 'No MIDI loaded'
            return
        if not self.active:
            self.reset_synth()
            self.position = 0
            self.cursor = 0
        self.active = 1
        self.paused = 0
        self.status_text = 'Playing'

    def seek_fraction(self, f):
        if self.song.length_frames == 0 or not self.song.events:
            return
        f = min(max(f, 0.0), 1.0)
        was_active, was_paused = self.active, self.paused
        self.active, self.paused = 1, 0
        target = int(float(self.song.length_frames) * f)
        self.seek_frame(target)
        self.active, self.paused = was_active, was_paused
        self.status_text = 'Position: %.1f%%' % (f * 100.0)

    def seek_frame(self, target):
        if self.song.length_frames != 0:
            target = min(target, self.song.length_frames)
        self.reset_synth()
        self.position = 0
        self.cursor = 0
        pre = self.sample_rate // 2 if self.sample_rate > 0 else 22050
        start = target - min(pre, target)
        if start > 0:
            self.dispatch_events(start)
            self.position = start
        scratch = [0] * 2048
        while self.position < target:
            if not self.active or self.paused or not self.song.events:
                break
            if not self.synth_render(scratch, min(target - self.position, 1024)):
                break
        if self.position < target:
            self.position = target
        self.dispatch_events(target)
        self.position = target


def _tdiv(a, b):
    """C integer division, truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def _voice_update(v, rand):
    """Per-sample state step; returns False when the voice was freed."""
    stage = v.env_stage
    if stage == 0:
        lvl = v.env_level + v.attack_step
        if lvl > FULL_LEVEL - 1:
            v.env_stage = 1
            lvl = FULL_LEVEL
        v.env_level = lvl
    elif stage == 1:
        x = v.env_level - v.decay_step
        if x < v.env_sustain or v.decay_step == 0:
            v.env_level = v.env_sustain
            v.env_stage = 2
        else:
            v.env_level = x
    elif stage == 2:
        x = v.env_level - v.sustain_step
        if x < 0:
            v.env_stage = 4
            v.env_level = 0
            v.note = -1
            v.stop_pending = 1
        else:
            v.env_level = x
    elif stage == 3:
        x = v.env_level - v.release_step
        if x > 0:
            v.env_level = x
        else:
            v.env_stage = 4
            v.env_level = 0
            v.note = -1
            v.stop_pending = 1
    else:
        v.env_level = 0
        v.note = -1
        v.stop_pending = 1

    if v.level_slope != 0.0:
        lvl = f32(v.level + v.level_slope)
        if lvl < 0.0:
            v.level = 0.0
            v.note = -1
            v.stop_pending = 1
        else:
            v.level = lvl

    if v.cents_slide != 0.0:
        base = v.pending_cents if v.cents_pending else v.cents
        v.pending_cents = f32(base + v.cents_slide)
        v.cents_pending = 1

    if v.hold_samples > 0:
        if v.hold_samples == 1:
            v.note = -1
            v.stop_pending = 1
        v.hold_samples -= 1

    pc = v.phase_counter
    if pc == 0 or (f32(float(pc)) if pc >= 16777216 else float(pc)) >= v.period_end:
        if v.stop_pending:
            v.active = 0
            return False
        mark = False
        if v.cents_pending:
            v.cents = v.pending_cents
            v.cents_pending = 0
            mark = True
        if v.expression_pending:
            v.expression = v.pending_expression
            v.expression_pending = 0
            mark = True
        if v.pan_pending:
            v.pan = min(max(v.pending_pan, 0), 127)
            v.set_gains()
            v.pan_pending = 0
        if v.pending_pitch_note >= 0:
            v.set_pitch(v.pending_pitch_note)
            v.pending_pitch_note = -1
        elif mark:
            v.set_pitch(v.pitch_note)
        else:
            v.period_start = v.period_end
            v.period_end = f32(v.period_end + v.period)
        if v.kind == 4:
            r = rand()
            v.noise_value = int(((r % 65535) - 32768) * 3.3)
    return True


# ---------------------------------------------------------------- command line


def _parse_args(argv):
    opts = {'rate': 44100, 'set': 0, 'block': 1024, 'seek': None, 'max_seconds': 900.0}
    names = {'--rate': ('rate', int), '--set': ('set', int), '--block': ('block', int),
             '--seek': ('seek', float), '--max-seconds': ('max_seconds', float)}
    positional = []
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in names:
            key, conv = names[a]
            opts[key] = conv(argv[i + 1])
            i += 2
        else:
            positional.append(a)
            i += 1
    return opts, positional


def render(path, rate=44100, instrument_set=0, block=1024, seek=None, max_seconds=900.0):
    """Returns the interleaved int16 samples velta-render writes, as a bytes object."""
    player = Player(rate)
    player.select_instrument_set(instrument_set)
    player.load(load_file(path, player.output_rate))
    player.start_playback()
    if seek is not None:
        player.seek_fraction(seek)
    limit = int(max_seconds * rate)
    pieces = []
    written = 0
    while written < limit:
        buf = [0] * (2 * block)
        if not player.synth_render(buf, block):
            break
        take = min(block, limit - written)
        pieces.append(struct.pack('<%dh' % (2 * take), *buf[:2 * take]))
        written += take
        if not player.active:
            break
    return b''.join(pieces)


def main(argv):
    if len(argv) < 2 or argv[1] not in ('dump', 'render'):
        sys.stderr.write('usage: velta_model.py dump|render [options] FILE [OUT]\n')
        return 1
    opts, pos = _parse_args(argv[2:])
    try:
        if argv[1] == 'dump':
            song = load_file(pos[0], opts['rate'])
            sys.stdout.write('\n'.join(dump_lines(song)) + '\n')
            return 0
        data = render(pos[0], opts['rate'], opts['set'], opts['block'], opts['seek'],
                      opts['max_seconds'])
    except LoadError as err:
        sys.stderr.write('velta-render: %s\n' % err)
        return 2
    with open(pos[1], 'wb') as f:
        f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
