#include "synth/render.h"

#include <cmath>
#include <cstdint>

#include "sequencer/dispatch.h"
#include "sequencer/player.h"
#include "synth/voice.h"

namespace {

constexpr uint64_t kNoEventTime = UINT64_MAX;
constexpr float kInv127 = 1.0f / 127;

// Average of the piecewise-constant cycle over the stretch [phase_counter, phase_counter + 1).
float oscillator_sample(const Voice& voice, const int32_t* table) noexcept {
    double d = static_cast<double>(voice.phase_counter) - static_cast<double>(voice.period_start);
    double period = voice.period;
    double a = d / period;
    double b = (d + 1.0) / period;
    int64_t p = static_cast<int64_t>(a * 32768.0);
    int64_t w = static_cast<int64_t>(b * 32768.0) - p;
    // A held note's float boundary test can fire a sample early once the counter passes
    // 2^24, leaving p negative: floor shifts and `& 31` keep every index inside the table.
    if (w <= 1) {
        return static_cast<float>(table[(p >> 10) & 31]);
    }
    int64_t i = p >> 10;
    int64_t acc = 0;
    int64_t rest = w;
    int64_t pos = p;
    for (;;) {
        int64_t next = ((pos >> 10) + 1) * 1024;
        int64_t step = next - pos;
        if (step <= 0 || rest < step) {
            acc += table[i & 31] * rest;
            break;
        }
        acc += table[i & 31] * step;
        rest -= step;
        i += 1;
        if (rest <= 0) {
            break;
        }
        pos = next;
    }
    return static_cast<float>(static_cast<double>(acc) / static_cast<double>(w));
}

float voice_sample(const Voice& voice) noexcept {
    float expression = static_cast<float>(voice.expression) * kInv127;
    float level = voice.level * kInv127;
    float envelope = static_cast<float>(voice.env_level >> 14) * (1.0f / 65536);
    if (voice.kind == kVoiceNoiseDrum) {
        return static_cast<float>(voice.noise_value) * expression * level * envelope;
    }
    const int32_t* table = voice.kind == kVoiceToneDrum ? voice.drum_wave : voice.wave;
    if (table == nullptr || voice.period <= 0.000001f || voice.frequency > 22050.0f) {
        return 0.0f;
    }
    return oscillator_sample(voice, table) * expression * level * envelope;
}

int16_t to_pcm(float mix) noexcept {
    float value = mix / 5.0f;
    if (value > 32767.0f) {
        return 32767;
    }
    if (value < -32767.0f) {
        return -32767;
    }
    return static_cast<int16_t>(lrintf(value));
}

void render_frames(SynthState& synth, int16_t* out, uint64_t frames) noexcept {
    uint32_t noise_step = synth.sample_rate == 22050 ? 2 : 1;
    for (uint64_t frame = 0; frame < frames; ++frame) {
        float left = 0.0f;
        float right = 0.0f;
        for (Voice& voice : synth.voices) {
            if (voice.active == 0 || static_cast<uint32_t>(voice.channel) > 15) {
                continue;
            }
            voice_update(synth, voice);
            if (voice.active == 0) {
                continue;
            }
            float x = voice_sample(voice);
            voice.phase_counter += voice.kind == kVoiceNoiseDrum ? noise_step : 1;
            voice.age += 1;
            if (synth.channels[voice.channel].mute != 0) {
                continue;
            }
            left += voice.gain_left * x;
            right += voice.gain_right * x;
        }
        out[2 * frame] = to_pcm(left);
        out[2 * frame + 1] = to_pcm(right);
    }
}

bool any_voice_active(const SynthState& synth) noexcept {
    for (const Voice& voice : synth.voices) {
        if (voice.active != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

bool synth_render(Player& player, int16_t* out, uint32_t frames) noexcept {
    uint32_t done = 0;
    bool processed = false;
    for (;;) {
        dispatch_events(player, player.position);
        const Song& song = player.song;
        uint64_t n = frames - done;
        bool event_left = player.cursor < song.event_count && player.cursor < song.events.size();
        uint64_t t = event_left ? song.events[player.cursor].time : kNoEventTime;
        if (t != kNoEventTime) {
            // Dispatch leaves only later events; the guard keeps a stray one from stalling us.
            uint64_t gap = t > player.position ? t - player.position : 1;
            n = gap < n ? gap : n;
        } else if (!any_voice_active(player.synth)) {
            break;
        }
        render_frames(player.synth, out + static_cast<size_t>(done) * 2, n);
        player.position += n;
        done += static_cast<uint32_t>(n);
        processed = true;
        if (done >= frames) {
            break;
        }
    }
    if (processed && player.position < player.song.length_frames) {
        return true;
    }
    if (processed && any_voice_active(player.synth)) {
        return true;
    }
    player_set_status(player, "Finished");
    player.active = 0;
    player.paused = 0;
    return processed;
}
