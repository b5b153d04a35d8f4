#include "synth/render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "synth/noise.h"
#include "synth/synth.h"
#include "synth/voice.h"
#include "synth/voice_step.h"

namespace {

constexpr float kInv127 = 1.0f / 127;

// One voice's contribution to the left and right mix over a chunk.
struct VoiceContribution {
    float left[kChunkFrames];
    float right[kChunkFrames];
};

bool oscillator_silent(const Voice& voice) noexcept {
    return voice.period <= 0.000001f || voice.frequency > 22050.0f;
}

// left[i] += gain_left * x and right[i] += gain_right * x with x = wave[i] * a * b * c[i]
// (c[0] throughout unless kPerSample), multiplied left to right as the one-sample path does,
// four lanes at a time where SSE is.
template <bool kPerSample>
void mix_scaled(const float* wave, float a, float b, const float* c, float gain_left,
                float gain_right, uint32_t n, float* left, float* right) noexcept {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128 va = _mm_set1_ps(a);
    const __m128 vb = _mm_set1_ps(b);
    const __m128 vc = _mm_set1_ps(c[0]);
    const __m128 vl = _mm_set1_ps(gain_left);
    const __m128 vr = _mm_set1_ps(gain_right);
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(wave + i), va), vb),
                                    kPerSample ? _mm_loadu_ps(c + i) : vc);
        _mm_storeu_ps(left + i, _mm_add_ps(_mm_loadu_ps(left + i), _mm_mul_ps(vl, x)));
        _mm_storeu_ps(right + i, _mm_add_ps(_mm_loadu_ps(right + i), _mm_mul_ps(vr, x)));
    }
#endif
    for (; i < n; ++i) {
        const float x = wave[i] * a * b * c[kPerSample ? i : 0];
        left[i] += gain_left * x;
        right[i] += gain_right * x;
    }
}

// What the envelope adds to its level on every sample of its current stage.
int32_t envelope_delta(const Voice& voice) noexcept {
    switch (voice.env_stage) {
    case kEnvAttack:
        return voice.attack_step;
    case kEnvDecay:
        return -voice.decay_step;
    case kEnvSustain:
        return -voice.sustain_step;
    case kEnvRelease:
        return -voice.release_step;
    default:
        return 0;
    }
}

// How many more samples the envelope takes in its current stage before an update would change
// the stage (or, for the finished stage, request a stop): 0 when the next one does.
uint32_t envelope_room(const Voice& voice) noexcept {
    constexpr uint32_t kForever = UINT32_MAX;
    const int64_t level = voice.env_level;
    int64_t room = 0;
    switch (voice.env_stage) {
    case kEnvAttack: // rises while the result stays at or below full level - 1
        room = voice.attack_step > 0 ? (kEnvFullLevel - 1 - level) / voice.attack_step : 0;
        break;
    case kEnvDecay: // falls while the result stays at or above the sustain level
        room = voice.decay_step > 0 ? (level - voice.env_sustain) / voice.decay_step : 0;
        break;
    case kEnvSustain: // falls while the result stays at or above zero
        if (voice.sustain_step == 0) {
            return level >= 0 ? kForever : 0;
        }
        room = voice.sustain_step > 0 ? level / voice.sustain_step : 0;
        break;
    case kEnvRelease: // falls while the result stays above zero
        room = voice.release_step > 0 ? (level - 1) / voice.release_step : 0;
        break;
    default:
        return 0;
    }
    return room <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(room, kForever));
}

// How many of the next `limit` frames a voice spends with nothing changing but its phase and
// its envelope level: no stage change, no level slope, no pitch slide and no hold time. Over
// such a run the per-sample update only adds a constant to the envelope level. A period end with
// nothing pending only begins the next cycle; it is taken here, on the run's first frame, as
// the update would take it. Counters stay below 2^24, where they are exact as floats.
uint32_t steady_run(Voice& voice, uint32_t limit) noexcept {
    constexpr auto kExactCounter = static_cast<float>(kFloatExactCounters);
    if (voice.level_slope != 0.0f || voice.cents_slide != 0.0f || voice.hold_samples > 0 ||
        voice.phase_counter == 0 || !(voice.period_end < kExactCounter)) {
        return 0;
    }
    const uint32_t room = envelope_room(voice);
    if (room == 0) {
        return 0;
    }
    limit = std::min(limit, room);
    uint32_t run = 0;
    if (voice_at_boundary(voice)) {
        if (voice.stop_pending != 0 || voice.cents_pending != 0 || voice.expression_pending != 0 ||
            voice.pan_pending != 0 || voice.pending_pitch_note >= 0) {
            return 0;
        }
        voice.period_start = voice.period_end;
        voice.period_end += voice.period;
        run = 1;
        if (!(voice.period_end < kExactCounter)) {
            return run;
        }
    }
    // The period ends at the first counter value that is not below `period_end`.
    const uint32_t next = voice.phase_counter + run;
    const auto end = static_cast<uint32_t>(std::ceil(voice.period_end));
    if (end > next) {
        run += std::min(limit - run, end - next);
    }
    return run;
}

// Renders a steady run: expression, level and pan are constant over it and the envelope moves
// in equal steps without changing stage.
void render_steady_run(Voice& voice, bool muted, bool has_table, Oscillator& osc, uint32_t run,
                       float* left, float* right) noexcept {
    const uint32_t first = voice.phase_counter;
    voice.phase_counter += run;
    voice.age += run;
    const int32_t step = envelope_delta(voice);
    const int32_t start_level = voice.env_level;
    voice.env_level += static_cast<int32_t>(run) * step;
    if (muted || !has_table || oscillator_silent(voice)) {
        return;
    }
    if (step == 0 && (start_level >> kEnvFractionBits) == 0) {
        return; // a zero factor makes every product zero
    }
    const float expression = static_cast<float>(voice.expression) * kInv127;
    const float level = voice.level * kInv127;
    float wave[kChunkFrames];
    osc.fill(first, voice.period_start, voice.period, run, wave);
    if (step == 0) {
        const float envelope = static_cast<float>(start_level >> kEnvFractionBits) * kEnvStepToGain;
        mix_scaled<false>(wave, expression, level, &envelope, voice.gain_left, voice.gain_right,
                          run, left, right);
        return;
    }
    float envelope[kChunkFrames];
    int32_t level_now = start_level;
    for (uint32_t i = 0; i < run; ++i) {
        level_now += step; // the update comes before the sample
        envelope[i] = static_cast<float>(level_now >> kEnvFractionBits) * kEnvStepToGain;
    }
    mix_scaled<true>(wave, expression, level, envelope, voice.gain_left, voice.gain_right, run,
                     left, right);
}

// Runs a melodic or tone-drum voice over `frames` frames and adds what it contributes to the
// chunk's mix, which holds the sum of the voices before it in the pool.
void render_wave_voice(Voice& voice, bool muted, uint32_t frames, Oscillator& osc,
                       VoiceContribution& mix) noexcept {
    const int32_t* table = voice.kind == kVoiceToneDrum ? voice.drum_wave : voice.wave;
    uint32_t frame = 0;
    while (frame < frames) {
        const uint32_t run = steady_run(voice, frames - frame);
        if (run != 0) {
            render_steady_run(voice, muted, table != nullptr, osc, run, mix.left + frame,
                              mix.right + frame);
            frame += run;
            continue;
        }
        voice_step_controls(voice);
        if (voice_at_boundary(voice)) {
            if (!voice_period_boundary(voice)) {
                return;
            }
        }
        const int32_t envelope_step = voice.env_level >> kEnvFractionBits;
        // A zero factor makes the product zero whatever the oscillator gives: skip it.
        if (!muted && envelope_step != 0 && table != nullptr && !oscillator_silent(voice)) {
            const float expression = static_cast<float>(voice.expression) * kInv127;
            const float level = voice.level * kInv127;
            const float envelope = static_cast<float>(envelope_step) * kEnvStepToGain;
            const float s = osc.sample(voice.phase_counter, voice.period_start, voice.period);
            const float x = s * expression * level * envelope;
            mix.left[frame] += voice.gain_left * x;
            mix.right[frame] += voice.gain_right * x;
        }
        voice.phase_counter += 1;
        voice.age += 1;
        ++frame;
    }
}

// One bit per voice of the pool.
static_assert(kVoiceCount <= std::numeric_limits<uint64_t>::digits, "voices fit the noise mask");

// Noise drums draw from the generator at their period ends; the draws must keep the
// frame-by-frame, pool-order sequence, so these voices step together, one frame at a time.
uint64_t render_noise_voices(SynthState& synth, NoiseGenerator& noise, uint32_t frames,
                             VoiceContribution* out) noexcept {
    uint64_t noise_voices = 0;
    for (int v = 0; v < kVoiceCount; ++v) {
        const Voice& voice = synth.voices[v];
        if (voice.active != 0 && static_cast<uint32_t>(voice.channel) <= 15 &&
            voice.kind == kVoiceNoiseDrum) {
            noise_voices |= uint64_t{1} << v;
        }
    }
    if (noise_voices == 0) {
        return 0;
    }
    const uint32_t noise_step = synth_half_rate(synth.sample_rate) ? 2 : 1;
    for (uint32_t frame = 0; frame < frames; ++frame) {
        for (int v = 0; v < kVoiceCount; ++v) {
            if ((noise_voices >> v & 1) == 0) {
                continue;
            }
            Voice& voice = synth.voices[v];
            float left = 0.0f;
            float right = 0.0f;
            if (voice.active != 0) {
                voice_update(voice, noise);
            }
            if (voice.active != 0) {
                const float expression = static_cast<float>(voice.expression) * kInv127;
                const float level = voice.level * kInv127;
                const float envelope =
                    static_cast<float>(voice.env_level >> kEnvFractionBits) * kEnvStepToGain;
                const float x =
                    static_cast<float>(voice.noise_value) * expression * level * envelope;
                voice.phase_counter += noise_step;
                voice.age += 1;
                if (synth.channels[voice.channel].mute == 0) {
                    left = voice.gain_left * x;
                    right = voice.gain_right * x;
                }
            }
            out[v].left[frame] = left;
            out[v].right[frame] = right;
        }
    }
    return noise_voices;
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

// Each voice runs a whole chunk on its own (voices do not touch each other between events),
// then the chunk is mixed frame by frame in pool order, so every sum is formed exactly as a
// frame-at-a-time loop would form it. A contribution of zero leaves the mix unchanged (at most
// the sign of a zero sum, which rounds to the same sample), so silent voices are not mixed.
void render_chunk(SynthState& synth, NoiseGenerator& generator, int16_t* out, uint32_t frames,
                  VoiceContribution (&noise)[kVoiceCount], OscillatorCache& oscillators) noexcept {
    VoiceContribution mix = {};
    const uint64_t noise_voices = render_noise_voices(synth, generator, frames, noise);
    for (int v = 0; v < kVoiceCount; ++v) {
        if ((noise_voices >> v & 1) != 0) {
            for (uint32_t frame = 0; frame < frames; ++frame) {
                mix.left[frame] += noise[v].left[frame];
                mix.right[frame] += noise[v].right[frame];
            }
            continue;
        }
        Voice& voice = synth.voices[v];
        if (voice.active != 0 && static_cast<uint32_t>(voice.channel) <= 15) {
            static constexpr int32_t kNoWave[kWaveLength] = {};
            const int32_t* table = voice.kind == kVoiceToneDrum ? voice.drum_wave : voice.wave;
            Oscillator& osc = oscillators.get(v, table != nullptr ? table : kNoWave);
            render_wave_voice(voice, synth.channels[voice.channel].mute != 0, frames, osc, mix);
        }
    }
    uint32_t frame = 0;
#if defined(__SSE2__)
    // Four frames at a time: divide, clip, round to nearest even (as lrintf does in the
    // default rounding mode) and interleave.
    const __m128 five = _mm_set1_ps(5.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32767.0f);
    for (; frame + 4 <= frames; frame += 4) {
        const __m128 l = _mm_div_ps(_mm_loadu_ps(mix.left + frame), five);
        const __m128 r = _mm_div_ps(_mm_loadu_ps(mix.right + frame), five);
        const __m128i li = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(l, high), low));
        const __m128i ri = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(r, high), low));
        const __m128i pcm = _mm_packs_epi32(_mm_unpacklo_epi32(li, ri), _mm_unpackhi_epi32(li, ri));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * frame), pcm);
    }
#endif
    for (; frame < frames; ++frame) {
        out[2 * frame] = to_pcm(mix.left[frame]);
        out[2 * frame + 1] = to_pcm(mix.right[frame]);
    }
}

} // namespace

void synth_render_voices(SynthState& synth, NoiseGenerator& noise, OscillatorCache& oscillators,
                         int16_t* out, uint64_t frames) noexcept {
    VoiceContribution noise_mix[kVoiceCount];
    for (uint64_t done = 0; done < frames; done += kChunkFrames) {
        const auto n =
            static_cast<uint32_t>(frames - done < kChunkFrames ? frames - done : kChunkFrames);
        render_chunk(synth, noise, out + 2 * done, n, noise_mix, oscillators);
    }
}

bool synth_any_voice_active(const SynthState& synth) noexcept {
    for (const Voice& voice : synth.voices) {
        if (voice.active != 0) {
            return true;
        }
    }
    return false;
}
