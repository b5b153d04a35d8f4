#!/usr/bin/env python3
"""Compares velta-render with the reference model: event dumps line for line, renders byte for byte.

Usage: crosscheck.py VELTA_RENDER SOURCE_DIR
Exit status 0 when everything agrees, 1 on any mismatch.
"""

import multiprocessing
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gen_songs  # noqa: E402
import velta_model  # noqa: E402

RATES = (22050, 44100, 48000)
MAX_SECONDS = '12'


def model_dump(path, rate):
    try:
        song = velta_model.load_file(path, rate)
    except velta_model.LoadError as err:
        return 2, '', 'velta-render: %s\n' % err
    return 0, '\n'.join(velta_model.dump_lines(song)) + '\n', ''


def check_dump(binary, path, rate):
    proc = subprocess.run([binary, '--dump', '--rate', str(rate), path], capture_output=True,
                          text=True)
    code, out, err = model_dump(path, rate)
    name = '%s --dump --rate %d' % (os.path.basename(path), rate)
    if proc.returncode != code:
        return ['%s: exit status %d, model %d (stderr %r, model %r)'
                % (name, proc.returncode, code, proc.stderr.strip(), err.strip())]
    if proc.stderr != err:
        return ['%s: stderr %r, model %r' % (name, proc.stderr, err)]
    got = proc.stdout.split('\n')
    want = out.split('\n')
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            return ['%s: line %d differs: velta-render %r, model %r' % (name, i + 1, g, w)]
    if len(got) != len(want):
        return ['%s: %d lines, model %d' % (name, len(got), len(want))]
    return []


def first_difference(a, b):
    n = min(len(a), len(b)) // 2
    sa = struct.unpack('<%dh' % n, a[:2 * n])
    sb = struct.unpack('<%dh' % n, b[:2 * n])
    diffs = [i for i in range(n) if sa[i] != sb[i]]
    if not diffs:
        return None
    i = diffs[0]
    return 'first at frame %d %s: velta-render %d, model %d (%d samples differ)' % (
        i // 2, 'LR'[i % 2], sa[i], sb[i], len(diffs))


def check_render(job):
    binary, path, rate, extra, tmpdir = job
    name = '%s --rate %d %s' % (os.path.basename(path), rate, ' '.join(extra))
    wav = os.path.join(tmpdir, '%d-%d.wav' % (os.getpid(), rate))
    proc = subprocess.run([binary, '--rate', str(rate), '--max-seconds', MAX_SECONDS] + extra +
                          [path, wav], capture_output=True)
    if proc.returncode != 0:
        return ['%s: velta-render exit status %d: %s' % (name, proc.returncode,
                                                         proc.stderr.decode(errors='replace'))]
    with open(wav, 'rb') as f:
        data = f.read()
    os.unlink(wav)
    if data[:4] != b'RIFF' or len(data) < 44:
        return ['%s: output is not a WAV file' % name]
    got = data[44:]
    opts = {'rate': rate, 'instrument_set': 0, 'block': 1024, 'seek': None,
            'max_seconds': float(MAX_SECONDS)}
    for key, value in zip(extra[::2], extra[1::2]):
        if key == '--set':
            opts['instrument_set'] = int(value)
        elif key == '--block':
            opts['block'] = int(value)
        elif key == '--seek':
            opts['seek'] = float(value)
        elif key == '--max-seconds':
            opts['max_seconds'] = float(value)
    want = velta_model.render(path, **opts)
    if got == want:
        return []
    problems = []
    diff = first_difference(got, want)
    if diff:
        problems.append('%s: samples differ, %s' % (name, diff))
    if len(got) != len(want):
        problems.append('%s: %d frames, model %d' % (name, len(got) // 4, len(want) // 4))
    return problems


def seek_fraction_for(path):
    """A fraction that lands in the middle of the song's events."""
    song = velta_model.load_file(path, 44100)
    return '%.3f' % (0.5 * song.events[-1].time / song.length_frames)


def main(binary, source_dir):
    problems = []
    with tempfile.TemporaryDirectory() as tmpdir:
        songdir = os.path.join(tmpdir, 'songs')
        baddir = os.path.join(tmpdir, 'malformed')
        gen_songs.main(songdir, baddir)
        songs = sorted(os.path.join(songdir, n) for n in os.listdir(songdir))

        checked = 0
        for path in songs:
            for rate in RATES:
                problems += check_dump(binary, path, rate)
                checked += 1
        for n in sorted(os.listdir(baddir)):
            problems += check_dump(binary, os.path.join(baddir, n), 44100)
            checked += 1
        corpus = os.path.normpath(os.path.join(source_dir, '..', 'shared', 'corpus'))
        for sub in ('valid', 'invalid'):
            folder = os.path.join(corpus, sub)
            if not os.path.isdir(folder):
                continue
            for n in sorted(os.listdir(folder)):
                if n.lower().endswith(('.mid', '.midi')):
                    problems += check_dump(binary, os.path.join(folder, n), 44100)
                    checked += 1
        print('dumps compared: %d' % checked)

        jobs = []
        for path in songs:
            seek = seek_fraction_for(path)
            for rate in RATES:
                jobs.append((binary, path, rate, [], tmpdir))
                jobs.append((binary, path, rate, ['--seek', seek], tmpdir))
        by_name = {os.path.basename(p)[:-4]: p for p in songs}
        for name, extra in (('basic', ['--set', '1', '--block', '100']),
                            ('random1', ['--set', '3', '--block', '37']),
                            ('random2', ['--set', '7', '--block', '4096']),
                            ('custom', ['--set', '9', '--seek', '0.02']),
                            ('drums', ['--seek', '0', '--max-seconds', '0.75']),
                            ('dense', ['--seek', '1'])):
            jobs.append((binary, by_name[name], 44100, extra, tmpdir))
        # Periods longer than 32768 samples take the oscillator's one-step path.
        jobs.append((binary, by_name['extreme'], 384000, ['--max-seconds', '0.1'], tmpdir))
        # Half a second from the middle of every valid corpus song, through the seek path.
        valid = os.path.join(corpus, 'valid')
        for n in sorted(os.listdir(valid)) if os.path.isdir(valid) else []:
            path = os.path.join(valid, n)
            try:
                song = velta_model.load_file(path, 22050)
            except velta_model.LoadError:
                continue
            if song.events:
                frac = '%.3f' % (0.4 * song.events[-1].time / song.length_frames)
                jobs.append((binary, path, 22050, ['--seek', frac, '--max-seconds', '0.5'],
                             tmpdir))
        with multiprocessing.Pool(min(2, os.cpu_count() or 1)) as pool:
            for result in pool.imap(check_render, jobs):
                problems += result
        print('renders compared: %d' % len(jobs))

    for p in problems:
        print('MISMATCH ' + p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
