#include "synth/voice.h"

#include "synth/drums.h"
#include "synth/noise.h"
#include "synth/synth.h"
#include "synth/voice_step.h"

namespace {

constexpr double kSemitoneRatio[12] = {1.0,      1.059463, 1.122462, 1.189207, 1.259921,  1.3348401,
                                       1.414214, 1.498307, 1.587401, 1.681793, 1.7817971, 1.887749};

constexpr double kOctaveBase[30] = {
    8.1759377,   16.351875,   32.703751,   65.407501,    130.815,      261.63,
    523.26001,   1046.52,     2093.04,     4186.0801,    8372.1602,    16744.32,
    33488.641,   66977.281,   133954.56,   267909.12,    535818.25,    1071636.5,
    2143273.0,   4286546.0,   8573092.0,   17146184.0,   34292368.0,   68584736.0,
    137169470.0, 274338940.0, 548677890.0, 1097355800.0, 2194711600.0, 4389423100.0};

constexpr float kInv127 = 1.0f / 127;

int32_t clamp_midi(int32_t value) noexcept {
    return value < 0 ? 0 : (value > 127 ? 127 : value);
}

void set_pan(Voice& voice, int32_t pan) noexcept {
    voice.pan = clamp_midi(pan);
    voice.gain_left = static_cast<float>(127 - voice.pan) * kInv127;
    voice.gain_right = static_cast<float>(voice.pan) * kInv127;
}

bool valid_channel(int32_t channel) noexcept {
    return channel >= 0 && channel < kChannelCount;
}

} // namespace

float note_frequency(int32_t note) noexcept {
    if (note < 0) {
        return 8.175938f;
    }
    int32_t octave = note / 12;
    double base = octave >= 30 ? 261.63 : kOctaveBase[octave];
    return static_cast<float>(kSemitoneRatio[note % 12] * base);
}

void voice_set_pitch(Voice& voice, int32_t note) noexcept {
    float f = note_frequency(note);
    if (voice.cents != 0.0f) {
        int32_t k = static_cast<int32_t>(voice.cents);
        int32_t q = k / 100;
        float r = voice.cents - 100.0f * static_cast<float>(q);
        float f0 = note_frequency(note + q);
        if (voice.cents > 0.0f) {
            float f1 = note_frequency(note + q + 1);
            f = f0 + r * 0.01f * (f1 - f0);
        } else {
            float f1 = note_frequency(note + q - 1);
            f = f0 + -r * 0.01f * (f1 - f0);
        }
    }
    voice.pitch_note = note;
    voice.phase_counter = 0;
    voice.period_start = 0.0f;
    voice.frequency = f > 0.0001f ? f : 0.0001f;
    float period = voice.rate / voice.frequency;
    voice.period = period < 0.0001f ? 0.0001f : period;
    voice.period_end = voice.period;
}

Voice& voice_allocate(SynthState& synth) noexcept {
    Voice* candidate = &synth.voices[0];
    for (Voice& v : synth.voices) {
        if (v.active == 0) {
            return v;
        }
        if (v.note < 0 && candidate->note >= 0) {
            candidate = &v;
        } else if (static_cast<int32_t>(v.age) > static_cast<int32_t>(candidate->age)) {
            candidate = &v;
        }
    }
    return *candidate;
}

void voice_start(SynthState& synth, Voice& voice, int32_t channel, int32_t note,
                 int32_t velocity) noexcept {
    const ChannelState& ch = synth.channels[channel & 15];
    int32_t pitch_note = voice.pitch_note > 0 ? voice.pitch_note : 60;

    voice = Voice{};
    voice.channel = channel;
    voice.note = note;
    voice.pending_pitch_note = -1;
    voice.kind = kVoiceMelodic;
    voice.rate = static_cast<float>(synth.sample_rate);
    voice.active = 1;
    voice.pitch_note = pitch_note;

    voice.expression = ch.expression;
    voice.pending_expression = ch.expression;
    voice.expression_pending = 1;

    double level = static_cast<double>(ch.volume) * static_cast<double>(velocity) / 127.0;
    level = level < 0.0 ? 0.0 : (level > 127.0 ? 127.0 : level);
    voice.level = static_cast<float>(level);

    voice.cents = static_cast<float>(ch.bend_cents + ch.detune);
    voice.pending_cents = voice.cents;

    voice.pending_pan = ch.pan;
    voice.pan_pending = 1;
    set_pan(voice, ch.pan);

    const EnvelopeParams& env = synth.envelope_table[ch.program & 127];
    voice.envelope = &env;
    voice.env_stage = kEnvAttack;
    voice.env_level = 0;
    voice.env_sustain = env.sustain_level * (1 << kEnvFractionBits);
    voice.attack_step = env.attack_samples != 0 ? kEnvFullLevel / env.attack_samples : 0;
    voice.decay_step =
        env.decay_samples != 0 ? (kEnvFullLevel - voice.env_sustain) / env.decay_samples : 0;
    voice.sustain_step = env.sustain_samples != 0 ? voice.env_sustain / env.sustain_samples : 0;
    voice.release_step = 0;
    if (voice.attack_step <= 0) {
        voice.env_stage = kEnvDecay;
        voice.env_level = kEnvFullLevel;
        if (voice.decay_step <= 0) {
            voice.env_stage = kEnvSustain;
            voice.env_level = voice.env_sustain;
        }
    }

    voice_set_pitch(voice, pitch_note);
}

void synth_note_on(SynthState& synth, int32_t channel, int32_t note, int32_t velocity) noexcept {
    if (!valid_channel(channel)) {
        return;
    }
    const ChannelState& ch = synth.channels[channel];
    Voice& v = voice_allocate(synth);
    voice_start(synth, v, channel, note, velocity);
    if (ch.drum != 0) {
        drum_note_on(synth, v, channel, note, velocity);
        return;
    }
    v.kind = kVoiceMelodic;
    v.program = ch.program & 127;
    if (synth.custom_wave_mode != 0) {
        v.level_slope = 0.0f;
        v.wave = synth.custom_wave_bank[v.program];
    } else {
        int32_t w = synth.set_table[synth.instrument_set][v.program] & 127;
        v.wave = synth.wave_bank[w];
        v.level_slope = per_sample_at(synth.sample_rate, synth.wave_decay[w]);
    }
    v.pending_pitch_note = note;
}

void voice_release(SynthState& synth, Voice& voice) noexcept {
    voice.note = -1;
    int32_t release = voice.envelope != nullptr ? voice.envelope->release_samples : 0;
    if (release == 0) {
        voice_finish_now(voice);
        return;
    }
    // The pedal does not hold the note; it only stretches the fade.
    int32_t divisor = synth.channels[voice.channel & 15].sustain == 1 ? 25000 : release;
    if (divisor <= 0) {
        voice_finish_now(voice);
        return;
    }
    voice.env_stage = kEnvRelease;
    voice.release_step = voice.env_level / divisor;
    if (voice.release_step <= 0) {
        voice_finish_now(voice);
    }
}

void synth_note_off(SynthState& synth, int32_t channel, int32_t note) noexcept {
    for (Voice& v : synth.voices) {
        if (v.active != 0 && v.channel == channel && v.note == note) {
            voice_release(synth, v);
        }
    }
}

void voice_to_rest(const SynthState& synth, Voice& voice) noexcept {
    voice = Voice{};
    voice.kind = kVoiceMelodic;
    voice.pitch_note = 60;
    voice.pending_pitch_note = -1;
    voice.expression = 127;
    voice.env_stage = kEnvFinished;
    set_pan(voice, 64);
    voice.rate = static_cast<float>(synth.sample_rate);
}

int32_t noise_sample(int32_t random) noexcept {
    return static_cast<int32_t>(static_cast<double>((random % 65535) - 32768) * 3.3);
}

void voice_update(Voice& voice, NoiseGenerator& noise) noexcept {
    voice_step_controls(voice);
    if (voice_at_boundary(voice) && voice_period_boundary(voice) && voice.kind == kVoiceNoiseDrum) {
        voice.noise_value = noise_sample(noise.next());
        voice.noise_draw = noise.drawn();
    }
}

bool voice_period_boundary(Voice& voice) noexcept {
    if (voice.stop_pending != 0) {
        voice.active = 0;
        return false;
    }
    bool repitch = false;
    if (voice.cents_pending != 0) {
        voice.cents = voice.pending_cents;
        voice.cents_pending = 0;
        repitch = true;
    }
    if (voice.expression_pending != 0) {
        voice.expression = voice.pending_expression;
        voice.expression_pending = 0;
        repitch = true;
    }
    if (voice.pan_pending != 0) {
        set_pan(voice, voice.pending_pan);
        voice.pan_pending = 0;
    }
    if (voice.pending_pitch_note >= 0) {
        voice_set_pitch(voice, voice.pending_pitch_note);
        voice.pending_pitch_note = -1;
    } else if (repitch) {
        voice_set_pitch(voice, voice.pitch_note);
    } else {
        voice.period_start = voice.period_end;
        voice.period_end += voice.period;
    }
    return true;
}
