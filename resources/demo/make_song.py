#!/usr/bin/env python3
"""Turns a score file (the format is described at the top of final-bowser.score) into a
format-1 Standard MIDI File.

Usage: make_song.py SCORE OUT.mid

The score is checked while it is read; any mistake stops the build with the file name, the
line number and what is wrong. After composing, the whole song is walked in time order to
make sure no melodic note is started in user-waveform mode on a slot that was never uploaded
(it would be silent).
"""

import struct
import sys

PITCH_CLASSES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
DRUM_NAMES = {"K": 36, "S": 38, "LT": 41, "H": 42, "MT": 45, "O": 46, "HT": 48, "C": 49,
              "R": 51}
LANES = ("notes", "bend", "pan", "expr", "vol", "tempo")
CONTROLLER_OF_LANE = {"pan": 10, "expr": 11, "vol": 7}
RAMP_STEPS = 4  # events per grid step in a ramp

# Ordering of events on the same tick: note-offs, then settings, then note-ons, so a note
# starts with the controllers and bend of its own tick.
ORDER_OFF, ORDER_SET, ORDER_ON = 0, 1, 2


class ScoreError(Exception):
    pass


def parse_note(token):
    """'A4' -> 69, 'C#5' -> 73, 'Bb2' -> 46."""
    if not token or token[0] not in PITCH_CLASSES:
        raise ScoreError(f"not a note: {token!r}")
    pitch = PITCH_CLASSES[token[0]]
    rest = token[1:]
    while rest[:1] in ("#", "b"):
        pitch += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    try:
        octave = int(rest)
    except ValueError:
        raise ScoreError(f"not a note: {token!r}") from None
    number = 12 * (octave + 1) + pitch
    if not 0 <= number <= 127:
        raise ScoreError(f"note out of range: {token!r}")
    return number


def parse_int(text, low, high, what):
    try:
        value = int(text)
    except ValueError:
        raise ScoreError(f"{what}: not a whole number: {text!r}") from None
    if not low <= value <= high:
        raise ScoreError(f"{what}: {value} is outside {low}..{high}")
    return value


def parse_options(words, allowed):
    options = {}
    for word in words:
        key, sep, value = word.partition("=")
        if not sep or key not in allowed:
            raise ScoreError(f"unknown option {word!r} (expected one of {', '.join(allowed)})")
        options[key] = value
    return options


class Channel:
    def __init__(self, name, number, drums, options):
        self.name = name
        self.index = number - 1
        self.drums = drums
        self.gate = parse_int(options.get("gate", "0"), 0, 10000, "gate")
        self.bend_range = parse_int(options.get("bendrange", "2"), 1, 24, "bendrange")
        self.settings = {key: value for key, value in options.items()
                         if key in ("program", "volume", "pan", "expression")}


class Pattern:
    def __init__(self, name, options):
        self.name = name
        self.velocity = parse_int(options.get("vel", "100"), 1, 127, "vel")
        self.gate = options.get("gate")
        self.lanes = {}

    def steps(self):
        return max((len(tokens) for tokens in self.lanes.values()), default=0)


class Song:
    def __init__(self):
        self.division = 480
        self.steps_per_beat = 4
        self.steps_per_bar = 16
        self.title = "Untitled"
        self.channels = {}
        self.waveforms = {}
        self.patterns = {}
        self.tracks = {}  # channel name -> list of (tick, order, bytes)
        self.conductor = []
        self.cursor = 0  # tick where the next section starts
        self.bend = {}  # channel name -> last bend value, for ramps that start from it

    @property
    def ticks_per_step(self):
        return self.division // self.steps_per_beat


def tempo_bytes(bpm):
    return bytes([0xFF, 0x51, 3]) + struct.pack(">I", round(60_000_000 / bpm))[1:]


def sysex_bytes(payload):
    body = bytes(payload) + b"\xf7"
    return bytes([0xF0]) + varlen(len(body)) + body


def varlen(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def ramp_values(token, previous, low, high, parse):
    """'a>b' -> RAMP_STEPS values from a to b (a may be left out: start from previous)."""
    if ">" not in token:
        return [parse(token)]
    start_text, _, end_text = token.partition(">")
    start = parse(start_text) if start_text else previous
    end = parse(end_text)
    if start is None:
        raise ScoreError(f"ramp {token!r} has no start value")
    values = [start + (end - start) * i / RAMP_STEPS for i in range(RAMP_STEPS)]
    values.append(end)
    return [min(high, max(low, v)) for v in values]


def place_pattern(song, channel, pattern, start, transpose):
    """Writes one pattern's events for one channel, starting at tick `start`."""
    track = song.tracks.setdefault(channel.name, [])
    step_ticks = song.ticks_per_step
    gate = parse_int(pattern.gate, 0, 10000, "gate") if pattern.gate else channel.gate

    def add(tick, order, data):
        track.append((tick, order, bytes(data)))

    sounding = []  # (notes, start tick)

    def end_notes(tick):
        for notes, began in sounding:
            off = max(began + 1, tick - gate)
            for number in notes:
                add(off, ORDER_OFF, [0x80 | channel.index, number, 0])
        sounding.clear()

    for step, token in enumerate(pattern.lanes.get("notes", [])):
        tick = start + step * step_ticks
        if token == "-":
            if not sounding and not channel.drums:
                raise ScoreError(f"pattern {pattern.name}: '-' at step {step + 1} holds nothing")
            continue
        end_notes(tick)
        if token == ".":
            continue
        body, _, velocity_text = token.partition("@")
        velocity = parse_int(velocity_text, 1, 127, "velocity") if velocity_text else \
            pattern.velocity
        notes = []
        for part in body.split("+"):
            if channel.drums:
                if part not in DRUM_NAMES:
                    raise ScoreError(f"pattern {pattern.name}: unknown drum {part!r}")
                notes.append(DRUM_NAMES[part])
            else:
                number = parse_note(part) + transpose
                if not 0 <= number <= 127:
                    raise ScoreError(f"pattern {pattern.name}: {part} transposed out of range")
                notes.append(number)
        for number in notes:
            add(tick, ORDER_ON, [0x90 | channel.index, number, velocity])
        if channel.drums:
            # Drums play their own length; the note-off only keeps the file tidy.
            sounding.append((notes, tick))
            end_notes(tick + step_ticks)
        else:
            sounding.append((notes, tick))
    end_notes(start + pattern.steps() * step_ticks)

    for lane in ("bend", "pan", "expr", "vol", "tempo"):
        previous = song.bend.get(channel.name, 0.0) if lane == "bend" else None
        for step, token in enumerate(pattern.lanes.get(lane, [])):
            if token == ".":
                continue
            tick = start + step * step_ticks
            if lane == "tempo":
                bpm = parse_int(token, 20, 400, "tempo")
                song.conductor.append((tick, ORDER_SET, tempo_bytes(bpm)))
                continue
            if lane == "bend":
                limit = float(channel.bend_range)
                values = ramp_values(token, previous, -limit, limit, float)
            else:
                values = ramp_values(token, previous, 0, 127,
                                     lambda text: parse_int(text, 0, 127, lane))
            for i, value in enumerate(values):
                at = tick + i * step_ticks // RAMP_STEPS if len(values) > 1 else tick
                if lane == "bend":
                    raw = round(8192 + value / channel.bend_range * 8192)
                    raw = min(16383, max(0, raw))
                    add(at, ORDER_SET, [0xE0 | channel.index, raw & 0x7F, raw >> 7])
                else:
                    add(at, ORDER_SET,
                        [0xB0 | channel.index, CONTROLLER_OF_LANE[lane], round(value)])
            previous = values[-1]
        if lane == "bend" and previous is not None:
            song.bend[channel.name] = previous


def expand_sequence(song, words):
    """'riff*2 riff^5 _1' -> [(pattern or None for rest bars, transpose, steps)]."""
    items = []
    for word in words:
        word, _, count_text = word.partition("*")
        count = parse_int(count_text, 1, 256, "repeat count") if count_text else 1
        if word.startswith("_"):
            bars = parse_int(word[1:], 1, 256, "rest bars")
            items += [(None, 0, bars * song.steps_per_bar)] * count
            continue
        name, _, shift_text = word.partition("^")
        if name not in song.patterns:
            raise ScoreError(f"unknown pattern {name!r}")
        shift = parse_int(shift_text, -48, 48, "transpose") if shift_text else 0
        pattern = song.patterns[name]
        items += [(pattern, shift, pattern.steps())] * count
    return items


def setting_events(song, channel, settings):
    track = song.tracks.setdefault(channel.name, [])
    events = []
    for key, value in settings.items():
        if key == "program":
            events.append([0xC0 | channel.index, parse_int(value, 0, 127, "program")])
        else:
            controller = {"volume": 7, "pan": 10, "expression": 11}[key]
            events.append([0xB0 | channel.index, controller, parse_int(value, 0, 127, key)])
    return track, events


def run_section(song, name, lines):
    start = song.cursor
    length = 0
    # Mode switches and uploads go one tick early: the reader plays SysEx after everything
    # else on its tick, and the section's first notes must already hear the new mode.
    early = max(0, start - 1)
    ends = {}  # channel name -> where its next line continues
    for words in lines:
        head = words[0]
        if head == "tempo":
            bpm = parse_int(words[1], 20, 400, "tempo")
            song.conductor.append((start, ORDER_SET, tempo_bytes(bpm)))
        elif head == "upload":
            if len(words) != 3 or words[1] not in song.waveforms:
                raise ScoreError("upload needs a waveform name and a slot")
            slot = parse_int(words[2], 0, 127, "slot")
            data = bytes(v & 0xFF for v in song.waveforms[words[1]])
            payload = bytes([0x77, 0x10, 0x42, 0x12, 0xF1, slot, 0x00]) + data
            song.conductor.append((early, ORDER_SET, sysex_bytes(payload)))
        elif head == "wavemode":
            if len(words) != 2 or words[1] not in ("on", "off"):
                raise ScoreError("wavemode takes on or off")
            value = 1 if words[1] == "on" else 0
            song.conductor.append(
                (early, ORDER_SET, sysex_bytes([0x77, 0x10, 0x42, 0x12, 0xF0, 0, 0, value])))
        elif head == "set":
            channel = lookup_channel(song, words[1])
            options = parse_options(words[2:], ("program", "volume", "pan", "expression"))
            track, events = setting_events(song, channel, options)
            track += [(start, ORDER_SET, bytes(e)) for e in events]
        elif head.endswith(":") or (head == "also" and len(words) > 1):
            layered = head == "also"
            if layered:
                words = words[1:]
                if not words[0].endswith(":"):
                    raise ScoreError("'also' needs a channel line")
            channel = lookup_channel(song, words[0][:-1])
            tick = start if layered else ends.get(channel.name, start)
            for pattern, shift, steps in expand_sequence(song, words[1:]):
                if pattern is not None:
                    place_pattern(song, channel, pattern, tick, shift)
                tick += steps * song.ticks_per_step
            if not layered:
                ends[channel.name] = tick
            length = max(length, tick - start)
        else:
            raise ScoreError(f"section {name}: unknown statement {head!r}")
    if length == 0:
        raise ScoreError(f"section {name} plays nothing")
    song.cursor = start + length


def check_pattern(song, pattern):
    # Whole bars only: a miscounted bar would shift everything after it.
    for lane, tokens in pattern.lanes.items():
        if not tokens or len(tokens) % song.steps_per_bar:
            raise ScoreError(f"pattern {pattern.name}: lane {lane} has {len(tokens)} steps, "
                             f"not a whole number of {song.steps_per_bar}-step bars")


def lookup_channel(song, name):
    if name not in song.channels:
        raise ScoreError(f"unknown channel {name!r}")
    return song.channels[name]


def read_score(path):
    song = Song()
    block = None  # ("pattern", Pattern) or ("section", name, lines)
    with open(path, encoding="utf-8") as score:
        for number, raw in enumerate(score, 1):
            words = []
            for word in raw.replace("|", " ").split():
                if word.startswith("#"):  # a comment; '#' inside a word is a sharp
                    break
                words.append(word)
            if not words:
                continue
            try:
                if block is not None:
                    if words == ["end"]:
                        if block[0] == "pattern":
                            check_pattern(song, block[1])
                        if block[0] == "section":
                            run_section(song, block[1], block[2])
                        block = None
                    elif block[0] == "pattern":
                        lane = words[0]
                        if lane not in LANES:
                            raise ScoreError(f"unknown lane {lane!r}")
                        block[1].lanes.setdefault(lane, []).extend(words[1:])
                    else:
                        block[2].append(words)
                    continue
                keyword = words[0]
                if keyword == "title":
                    song.title = " ".join(words[1:])
                elif keyword == "division":
                    song.division = parse_int(words[1], 24, 3840, "division")
                elif keyword == "grid":
                    song.steps_per_beat = parse_int(words[1], 1, 16, "steps per beat")
                    song.steps_per_bar = parse_int(words[2], 1, 64, "steps per bar")
                    if song.division % song.steps_per_beat:
                        raise ScoreError("division must split evenly into steps")
                elif keyword in ("channel", "drums"):
                    name = words[1]
                    midi = parse_int(words[2], 1, 16, "channel")
                    options = parse_options(words[3:], ("program", "volume", "pan",
                                                        "expression", "gate", "bendrange"))
                    channel = Channel(name, midi, keyword == "drums", options)
                    song.channels[name] = channel
                    track, events = setting_events(song, channel, channel.settings)
                    if channel.bend_range != 2:
                        events += [[0xB0 | channel.index, 101, 0], [0xB0 | channel.index, 100, 0],
                                   [0xB0 | channel.index, 6, channel.bend_range]]
                    track += [(0, ORDER_SET, bytes(e)) for e in events]
                elif keyword == "waveform":
                    values = [parse_int(v, -128, 127, "sample") for v in words[2:]]
                    if len(values) != 32:
                        raise ScoreError(f"waveform {words[1]} needs 32 samples, not {len(values)}")
                    song.waveforms[words[1]] = values
                elif keyword == "pattern":
                    pattern = Pattern(words[1], parse_options(words[2:], ("vel", "gate")))
                    song.patterns[words[1]] = pattern
                    block = ("pattern", pattern)
                elif keyword == "section":
                    block = ("section", words[1], [])
                else:
                    raise ScoreError(f"unknown keyword {keyword!r}")
            except (ScoreError, IndexError) as error:
                message = str(error) if isinstance(error, ScoreError) else "missing value"
                raise ScoreError(f"{path}:{number}: {message}") from None
    if block is not None:
        raise ScoreError(f"{path}: the last {block[0]} has no 'end'")
    return song


def check_user_waveforms(song):
    """Every melodic note started in user-waveform mode must have its program's slot loaded."""
    timeline = [(tick, order, 1, data) for tick, order, data in song.conductor]
    for name, track in song.tracks.items():
        timeline += [(tick, order, 0, data) for tick, order, data in track]
    drums = {c.index for c in song.channels.values() if c.drums}
    # The reader plays a tick's SysEx after its channel events.
    timeline.sort(key=lambda e: (e[0], e[2], e[1]))
    programs = [80] * 16
    uploaded = set()
    mode = False
    for tick, _, _, data in timeline:
        status = data[0]
        if status == 0xF0:
            body = data[2:]
            if body[4] == 0xF1:
                uploaded.add(body[5])
            elif body[4] == 0xF0:
                mode = body[7] != 0
        elif status & 0xF0 == 0xC0:
            programs[status & 0x0F] = data[1]
        elif status & 0xF0 == 0x90 and data[2] > 0 and mode and (status & 0x0F) not in drums:
            if programs[status & 0x0F] not in uploaded:
                raise ScoreError(f"tick {tick}: a note on channel {(status & 0x0F) + 1} plays "
                                 f"user waveform {programs[status & 0x0F]}, never uploaded")


def encode_track(name, events):
    out = bytearray(varlen(0) + bytes([0xFF, 0x03]) + varlen(len(name)) + name.encode("ascii"))
    last = 0
    # Stable sort: events of one tick and order keep the order the score wrote them in.
    for tick, _, data in sorted(events, key=lambda e: (e[0], e[1])):
        out += varlen(tick - last) + data
        last = tick
    out += varlen(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(out)) + bytes(out)


def write_midi(song, path):
    tracks = [encode_track(song.title, song.conductor)]
    for name, events in song.tracks.items():
        tracks.append(encode_track(name, events))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), song.division)
    with open(path, "wb") as out:
        out.write(header + b"".join(tracks))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    try:
        song = read_score(sys.argv[1])
        check_user_waveforms(song)
    except (ScoreError, OSError) as error:
        sys.exit(f"make_song.py: {error}")
    write_midi(song, sys.argv[2])


if __name__ == "__main__":
    main()
