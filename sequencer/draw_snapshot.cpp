#include "sequencer/draw_snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

int32_t clamp_int(int32_t value, int32_t low, int32_t high) {
    return std::clamp(value, low, high);
}

// Nearest integer (halves away from zero) of a value first limited to [low, high], so that
// huge or NaN inputs cannot overflow the conversion.
int32_t round_clamped(double value, int32_t low, int32_t high) {
    if (!(value >= low)) return low; // NaN lands here too
    if (value >= high) return high;
    return static_cast<int32_t>(std::lround(value));
}

void copy_wave(int8_t (&to)[kWaveLength], const int8_t (&from)[kWaveLength]) {
    std::memcpy(to, from, sizeof to);
}

void fill_channel(const SynthState& synth, int channel, ChannelView& view) {
    const ChannelState& state = synth.channels[channel];
    view.mute = state.mute;
    view.drum = state.drum != 0 ? 1 : 0;
    view.program = state.program & 127;
    view.volume = clamp_int(state.volume, 0, 127);
    view.expression = clamp_int(state.expression, 0, 127);
    view.bank = state.bank;
    view.pan = clamp_int(state.pan, 0, 127);
    view.sustain = state.sustain;
    view.bend = clamp_int(state.bend, -8192, 8191);
    if (view.drum != 0) return; // wave stays all zero
    if (synth.custom_wave_mode != 0 && synth.custom_waves_present != 0) {
        copy_wave(view.wave, synth.custom_wave_bytes[view.program]);
    } else {
        const int32_t set = clamp_int(synth.instrument_set, 0, kInstrumentSetCount - 1);
        copy_wave(view.wave, synth.wave_bank_bytes[synth.set_table[set][view.program] & 127]);
    }
}

// Index of the custom wave `wave` points at, or -1 when it points elsewhere.
int custom_wave_index(const SynthState& synth, const int32_t* wave) {
    const int32_t* first = &synth.custom_wave_bank[0][0];
    const int32_t* end = first + kWaveSlots * kWaveLength;
    const std::less<const int32_t*> before;
    if (wave == nullptr || before(wave, first) || !before(wave, end)) return -1;
    const auto offset = wave - first;
    return offset % kWaveLength == 0 ? static_cast<int>(offset / kWaveLength) : -1;
}

void add_voice(const SynthState& synth, const Voice& voice, ChannelView& view) {
    view.envelope = clamp_int(voice.env_level >> 23, 0, 127);
    const int32_t voice_level = round_clamped(voice.level, 0, 127);
    view.level = std::min<int32_t>(127, (view.expression * view.envelope * voice_level) >> 14);
    view.frequency = round_clamped(voice.frequency, 0, 99999);
    if (view.voice_count < kMaxVoicesShown) ++view.voice_count;
    if (view.drum == 0 && synth.custom_wave_mode != 0 && synth.custom_waves_present != 0) {
        const int index = custom_wave_index(synth, voice.wave);
        if (index >= 0) copy_wave(view.wave, synth.custom_wave_bytes[index]);
    }
}

} // namespace

TickAndTempo tick_and_tempo_at(const Song& song, double position) noexcept {
    TickAndTempo result;
    const auto& map = song.tempo_map;
    if (map.empty() || song.rate == 0 || song.division == 0) return result;
    const double length = static_cast<double>(song.length_frames);
    const double p = (length != 0.0 && position > length) ? length : position;
    // Last point at or before p; the first point when p lies before all of them.
    auto after =
        std::upper_bound(map.begin(), map.end(), p, [](double frame, const TempoPoint& point) {
            return frame < static_cast<double>(point.frame);
        });
    const TempoPoint& point = after == map.begin() ? map.front() : *(after - 1);
    double tempo = point.tempo;
    if (point.tempo == 0) {
        result.tempo_bpm = 120.0;
        tempo = 500000.0;
    } else {
        result.tempo_bpm = 60000000.0 / tempo;
    }
    const double elapsed = std::max(0.0, p - static_cast<double>(point.frame));
    const double ticks_per_frame =
        (static_cast<double>(song.division) * 1000000.0) / (static_cast<double>(song.rate) * tempo);
    result.tick =
        static_cast<double>(point.tick) + std::floor(ticks_per_frame * elapsed + 0.000000001);
    return result;
}

void take_draw_snapshot(Player& player, DrawSnapshot& out) noexcept {
    out = DrawSnapshot{};
    std::lock_guard<std::mutex> guard(player.lock);
    const SynthState& synth = player.synth;
    for (int channel = 0; channel < kChannelCount; ++channel) {
        fill_channel(synth, channel, out.channels[channel]);
    }
    for (const Voice& voice : synth.voices) {
        if (voice.active == 0 || voice.channel < 0 || voice.channel >= kChannelCount) continue;
        add_voice(synth, voice, out.channels[voice.channel]);
    }
    out.position = static_cast<double>(player.position);
    out.length = static_cast<double>(player.song.length_frames);
    out.rate = player.output_rate;
    out.active = player.active;
    out.paused = player.paused;
    std::memcpy(out.song_path, player.song_path, sizeof out.song_path - 1);
    std::memcpy(out.status_text, player.status_text, sizeof out.status_text - 1);
    const TickAndTempo now = tick_and_tempo_at(player.song, out.position);
    out.tick = now.tick;
    out.tempo_bpm = now.tempo_bpm;
    out.bpm_shown = round_clamped(now.tempo_bpm, 0, 999);
    out.division_shown = std::min<int32_t>(player.song.division, 999);
}
