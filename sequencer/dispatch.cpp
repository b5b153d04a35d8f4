#include "sequencer/dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sequencer/player.h"
#include "sequencer/playhead.h"
#include "song/song.h"
#include "synth/synth.h"
#include "synth/synth_state.h"
#include "synth/voice.h"

namespace {

// Calls `apply` for every sounding voice of `channel`, in pool order.
template <typename Apply>
void for_channel_voices(SynthState& synth, int32_t channel, Apply apply) noexcept {
    for (Voice& voice : synth.voices) {
        if (voice.active != 0 && voice.channel == channel) {
            apply(voice);
        }
    }
}

void note_off(SynthState& synth, int32_t channel, int32_t note) noexcept {
    // Drums always run their full length.
    if (synth.channels[channel].drum == 0) {
        synth_note_off(synth, channel, note);
    }
}

void control_change(SynthState& synth, int32_t channel, int32_t controller,
                    int32_t value) noexcept {
    ChannelState& ch = synth.channels[channel];
    switch (controller) {
    case 0:
        ch.bank = value;
        break;
    case 6:
        // Only registered parameter 0/0 (pitch-bend sensitivity) is understood.
        if (ch.rpn_msb == 0 && ch.rpn_lsb == 0 && value <= 24) {
            ch.bend_range = value;
        }
        break;
    case 7:
        ch.volume = value;
        break;
    case 10:
        ch.pan = value;
        for_channel_voices(synth, channel, [value](Voice& voice) {
            voice.pan_pending = 1;
            voice.pending_pan = value;
        });
        break;
    case 11:
        ch.expression = value;
        for_channel_voices(synth, channel, [value](Voice& voice) {
            voice.expression_pending = 1;
            voice.pending_expression = value;
        });
        break;
    case 64:
        ch.sustain = value != 0 ? 1 : 0;
        break;
    case 100:
        ch.rpn_lsb = value;
        break;
    case 101:
        ch.rpn_msb = value;
        break;
    case 120:
        for_channel_voices(synth, channel, [&synth](Voice& voice) { voice_to_rest(synth, voice); });
        break;
    case 121: {
        ch.expression = 127;
        ch.bend_cents = 0;
        const float detune = static_cast<float>(ch.detune);
        for_channel_voices(synth, channel, [detune](Voice& voice) {
            voice.expression_pending = 1;
            voice.pending_expression = 127;
            voice.cents_pending = 1;
            voice.pending_cents = detune;
        });
        break;
    }
    case 123:
        for_channel_voices(synth, channel, [&synth](Voice& voice) { voice_release(synth, voice); });
        break;
    default:
        break;
    }
}

void pitch_bend(SynthState& synth, int32_t channel, int32_t lsb, int32_t msb) noexcept {
    ChannelState& ch = synth.channels[channel];
    if (ch.drum != 0) {
        return;
    }
    ch.bend = (msb - 64) * 128 + lsb;
    const double cents = static_cast<double>(ch.bend_range) * 100.0 * ch.bend * (1.0 / 8192);
    ch.bend_cents = static_cast<int32_t>(std::llround(cents));
    const float offset = static_cast<float>(ch.bend_cents + ch.detune);
    for_channel_voices(synth, channel, [offset](Voice& voice) {
        voice.cents_pending = 1;
        voice.pending_cents = offset;
    });
}

bool starts_with(const uint8_t* data, uint64_t length, std::initializer_list<uint8_t> prefix) {
    return length >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data);
}

// Rhythm-part numbering: part 0 is MIDI channel 10, parts 1-9 are channels 1-9.
int32_t rhythm_part_channel(int32_t part) noexcept {
    if (part == 0) {
        return 9;
    }
    return part <= 9 ? part - 1 : part;
}

void system_exclusive(SynthState& synth, const Song& song, const MidiEvent& event) noexcept {
    const uint8_t* data = song_event_sysex(song, event);
    const uint64_t length = event.sysex_length;
    if (data == nullptr || length < 6 || data[0] != 0xF0) {
        return;
    }
    if (starts_with(data, length, {0xF0, 0x7E, 0x7F, 0x09, 0x01})) {
        reset_synth(synth);
        return;
    }
    if (length >= 10 && starts_with(data, length, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40}) &&
        (data[6] & 0xF0) == 0x10 && data[7] == 0x15) {
        const int32_t channel = rhythm_part_channel(data[6] & 0x0F);
        synth.channels[channel].drum = data[8] != 0 ? 1 : 0;
        return;
    }
    if (length >= 9 &&
        starts_with(data, length, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00})) {
        const int32_t on = data[8] != 0 ? 1 : 0;
        synth.custom_wave_mode = on;
        synth.custom_waves_present = on;
        return;
    }
    const int32_t slot = sysex_wave_slot(song, event);
    if (slot >= 0) {
        for (int i = 0; i < kWaveLength; ++i) {
            const auto sample = static_cast<int8_t>(data[8 + i]);
            synth.custom_wave_bytes[slot][i] = sample;
            synth.custom_wave_bank[slot][i] = sample * 256;
        }
        synth.custom_waves_present = 1;
    }
}

void apply_event(SynthState& synth, const Song& song, const MidiEvent& event) noexcept {
    if (event.status == 0xF0) {
        system_exclusive(synth, song, event);
        return;
    }
    if (event.status < 0x80 || event.status > 0xEF) {
        return;
    }
    const int32_t channel = event.status & 0x0F;
    const int32_t data1 = event.data1;
    const int32_t data2 = event.data2;
    switch (event.status & 0xF0) {
    case 0x80:
        note_off(synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0) {
            note_off(synth, channel, data1);
        } else {
            synth_note_on(synth, channel, data1, data2);
        }
        break;
    case 0xB0:
        control_change(synth, channel, data1, data2);
        break;
    case 0xC0:
        synth.channels[channel].program = data1 & 0x7F;
        break;
    case 0xE0:
        pitch_bend(synth, channel, data1, data2);
        break;
    default: // polyphonic and channel pressure
        break;
    }
}

} // namespace

int32_t sysex_wave_slot(const Song& song, const MidiEvent& event) noexcept {
    const uint8_t* data = song_event_sysex(song, event);
    const uint64_t length = event.sysex_length;
    if (data == nullptr || length < 40 ||
        !starts_with(data, length, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF1}) || data[7] != 0x00) {
        return -1;
    }
    return data[6] & 0x7F;
}

void dispatch_events(const Playhead& head, uint64_t frame) noexcept {
    const Song& song = head.song;
    while (head.cursor < song.events.size()) {
        const MidiEvent& event = song.events[head.cursor];
        if (event.time > frame) {
            break;
        }
        apply_event(head.synth, song, event);
        ++head.cursor;
    }
}

void dispatch_events(Player& player, uint64_t frame) noexcept {
    dispatch_events(playhead_of(player), frame);
}
