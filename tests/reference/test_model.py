#!/usr/bin/env python3
"""Self-checks of the reference model against independently known values."""

import ctypes
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_songs  # noqa: E402
import velta_model as m  # noqa: E402


def smf(*tracks, division=480, header_len=6):
    head = b'MThd' + header_len.to_bytes(4, 'big') + b'\x00\x01' + \
        len(tracks).to_bytes(2, 'big') + division.to_bytes(2, 'big') + b'\x00' * (header_len - 6)
    return head + b''.join(b'MTrk' + len(t).to_bytes(4, 'big') + t for t in tracks)


EOT = b'\x00\xff\x2f\x00'


class RandTest(unittest.TestCase):
    def test_matches_the_c_library(self):
        try:
            libc = ctypes.CDLL('libc.so.6')
        except OSError:
            self.skipTest('no libc.so.6')
        libc.srand(1)
        model = m.GlibcRand()
        self.assertEqual([model() for _ in range(5000)], [libc.rand() for _ in range(5000)])


class ReaderTest(unittest.TestCase):
    def error(self, data):
        with self.assertRaises(m.LoadError) as ctx:
            m.parse_song(data, 44100)
        return str(ctx.exception)

    def test_scheduling_and_length(self):
        song = m.parse_song(smf(b'\x83\x60\x90\x3c\x40' + EOT), 44100)
        self.assertEqual([(e.time, e.status) for e in song.events], [(22050, 0x90)])
        self.assertEqual(song.length_frames, 22050 + 176400)
        self.assertEqual(m.parse_song(smf(b'\x83\x60\x90\x3c\x40', division=0), 44100).division,
                         480)

    def test_tempo_map(self):
        tempo = b'\x00\xff\x51\x03\x07\xa1\x20'  # 500000 at tick 0 replaces the first point
        track = (tempo + b'\x00\xff\x51\x03\x0f\x42\x40' + b'\x00\xff\x51\x03\x00\x00\x00' +
                 b'\x83\x60\x90\x3c\x40' + b'\x00\xff\x51\x03\x03\x0d\x40')
        song = m.parse_song(smf(track + EOT), 44100)
        self.assertEqual(song.tempo_map, [[0, 0, 1000000], [44100, 480, 200000]])
        self.assertEqual(song.events[0].time, 44100)

    def test_order_across_tracks_and_kinds(self):
        t1 = b'\x00\xf0\x02\x01\xf7' + b'\x00\x91\x40\x40' + EOT
        t2 = b'\x00\x92\x40\x40' + EOT
        song = m.parse_song(smf(t1, t2), 44100)
        self.assertEqual([e.status for e in song.events], [0x91, 0x92, 0xF0])
        self.assertEqual(song.events[2].sysex, b'\xf0\x01\xf7')

    def test_running_status(self):
        after_sysex = b'\x00\x90\x40\x40' + b'\x00\xf7\x01\x00' + b'\x00\x41\x40' + EOT
        self.assertEqual(len(m.parse_song(smf(after_sysex), 44100).events), 3)
        after_system = b'\x00\x90\x40\x40' + b'\x00\xf6' + b'\x00\x41\x40' + EOT
        self.assertEqual(self.error(smf(after_system)), m.PARSE_ERROR)

    def test_track_errors(self):
        for body in (b'\x00\x40\x40',  # data byte without running status
                     b'\x00\x90\x40\x40\x00\xff\x01\x00\x00\x41\x40',  # ... after a meta event
                     b'\x00\x90\x40',  # message cut by the chunk end
                     b'\x00\xff',  # meta type missing
                     b'\x00\xff\x2f\x05\x00',  # End of Track longer than the chunk
                     b'\x00\xf4',
                     b'\x80\x80\x80\x80\x00\x90\x40\x40',  # five-byte delta
                     b'\x00'):
            self.assertEqual(self.error(smf(body)), m.PARSE_ERROR, body)
        ended = b'\x00\x90\x40\x40' + EOT + b'\x00\xf4\x00\x40'
        self.assertEqual(len(m.parse_song(smf(ended), 44100).events), 1)

    def test_file_errors(self):
        note = b'\x00\x90\x40\x40' + EOT
        good = smf(note)
        cases = [(b'', 'MIDI file is empty.'),
                 (good[:13], 'Invalid MIDI header.'),
                 (b'MThx' + good[4:], 'Invalid MIDI header.'),
                 (smf(note, header_len=5), 'Invalid MIDI header length.'),
                 (good[:8] + b'\x00\x01\x00\x01\x80\x1e' + good[14:],
                  'SMPTE time-division MIDI is not supported.'),
                 (good[:10] + b'\x00\x00' + good[12:], 'MIDI has no events.'),
                 (smf(b'\x00\xff\x01\x00' + EOT), 'MIDI has no events.'),
                 (good[:10] + b'\x00\x02' + good[12:], 'Invalid MIDI track chunk.'),
                 (good.replace(b'MTrk', b'MTrx'), 'Invalid MIDI track chunk.'),
                 (good[:-1], 'Truncated MIDI track.')]
        for data, message in cases:
            self.assertEqual(self.error(data), message, data)
        self.assertEqual(len(m.parse_song(good + b'JUNK\x00\x00\x00\x00', 44100).events), 1)


class SynthTest(unittest.TestCase):
    def player(self, events, rate=44100):
        player = m.Player(rate)
        song = m.Song()
        song.events = [m.MidiEvent(t, s, d1, d2, x) for t, s, d1, d2, x in events]
        song.length_frames = 4 * rate
        song.rate = rate
        player.load(song)
        player.start_playback()
        return player

    def test_single_square_voice_level(self):
        player = self.player([(0, 0xB0, 7, 127, None), (0, 0x90, 60, 127, None)])
        player.select_instrument_set(2)
        out = [0] * 8
        player.synth_render(out, 4)
        self.assertEqual(out[:2], [1089, 1106])

    def test_pitch_interpolation(self):
        voice = m.Voice()
        voice.rest(44100)
        for cents, expected in ((100.0, m.note_frequency(61)),
                                (50.0, (m.note_frequency(60) + m.note_frequency(61)) / 2),
                                (-150.0, (m.note_frequency(59) + m.note_frequency(58)) / 2)):
            voice.cents = cents
            voice.set_pitch(60)
            self.assertAlmostEqual(voice.frequency, expected, places=3)
        self.assertAlmostEqual(m.note_frequency(69), 440.01, places=2)

    def test_drum_voices(self):
        player = self.player([(0, 0x99, 38, 127, None)])
        player.dispatch_events(0)
        noise, tone = player.voices[0], player.voices[1]
        self.assertEqual((noise.kind, noise.pending_pitch_note, noise.hold_samples), (4, 140, 1600))
        self.assertEqual((tone.kind, tone.pending_pitch_note, tone.hold_samples), (5, 63, 1200))
        self.assertAlmostEqual(noise.level, 50.0, places=4)
        self.assertAlmostEqual(tone.level, 75.0, places=4)
        player = self.player([(0, 0xB9, 7, 127, None), (0, 0x99, 36, 127, None)], rate=22050)
        player.dispatch_events(0)
        bass = player.voices[0]
        self.assertEqual((bass.level, bass.hold_samples), (127.0, 270))
        self.assertAlmostEqual(bass.level_slope, -0.008)

    def test_stealing_takes_the_oldest_voice(self):
        player = self.player([(i, 0x90, 20 + i, 100, None) for i in range(47)])
        out = [0] * 200
        player.synth_render(out, 100)
        self.assertEqual(sum(v.note == 66 for v in player.voices), 1)
        self.assertEqual(player.voices[0].note, 66)

    def test_song_ends_when_voices_are_silent(self):
        player = self.player([(0, 0x90, 60, 100, None), (10, 0x80, 60, 0, None)])
        out = [0] * 2 * 4096
        while player.synth_render(out, 4096):
            if not player.active:
                break
        self.assertEqual((player.active, player.status_text), (0, 'Finished'))
        self.assertLess(player.position, player.song.length_frames)

    def test_generated_songs_load(self):
        import tempfile
        with tempfile.TemporaryDirectory() as tmp:
            gen_songs.main(tmp)
            for name in os.listdir(tmp):
                song = m.load_file(os.path.join(tmp, name), 44100)
                self.assertGreater(len(song.events), 10, name)


if __name__ == '__main__':
    unittest.main()
