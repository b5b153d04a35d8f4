#include "synth/drums.h"

#include "synth/synth.h"
#include "synth/voice.h"

namespace {

// One row of the kit. Hold, slope and slide are the 44100/48000 Hz values; at 22050 Hz the
// kit runs on half the samples, so they are halved and doubled there.
struct DrumRow {
    int32_t kind;
    int32_t pitch_note; // -1: the played note itself
    int32_t hold_samples;
    float level_factor;
    float level_slope;
    float cents_slide;
};

constexpr DrumRow kBassDrum = {kVoiceToneDrum, 38, 540, 1.8333333f, -0.004f, 0.0f};
constexpr DrumRow kSnareNoise = {kVoiceNoiseDrum, 140, 1600, 0.41666666f, -0.005f, 0.8f};
constexpr DrumRow kSnareTone = {kVoiceToneDrum, 63, 1200, 0.74999994f, 0.0f, -0.6f};
constexpr DrumRow kLowTom = {kVoiceToneDrum, 50, 1200, 0.74999994f, 0.0f, -0.6f};
constexpr DrumRow kMiddleTom = {kVoiceToneDrum, 58, 1200, 0.74999994f, 0.0f, -0.6f};
constexpr DrumRow kHighTom = {kVoiceToneDrum, 66, 1200, 0.74999994f, 0.0f, -0.6f};
constexpr DrumRow kProgram48Tom = {kVoiceToneDrum, -1, 1200, 0.5833333f, 0.0f, -0.5f};
constexpr DrumRow kClosedHiHat = {kVoiceNoiseDrum, 150, 700, 0.38333333f, 0.0f, 0.0f};
constexpr DrumRow kOpenHiHat = {kVoiceNoiseDrum, 167, 2500, 0.38333333f, -0.01f, 0.0f};
constexpr DrumRow kCrash = {kVoiceNoiseDrum, 170, 15000, 0.5416666f, -0.005f, 0.0f};
constexpr DrumRow kRide = {kVoiceNoiseDrum, 120, 1200, 0.5f, 0.0f, 0.0f};
constexpr DrumRow kDefaultNoise = {kVoiceNoiseDrum, 150, 500, 0.25f, 0.0f, 0.0f};

float clamp_level(float level) noexcept {
    return level < 0.0f ? 0.0f : (level > 127.0f ? 127.0f : level);
}

const DrumRow& choose_row(int32_t program, int32_t note) noexcept {
    if (program == 50) {
        return note > 59 ? kSnareNoise : kBassDrum;
    }
    if (program == 48 && note >= 41 && note <= 53) {
        return kProgram48Tom;
    }
    switch (note) {
    case 35:
    case 36:
        return kBassDrum;
    case 38:
    case 40:
        return kSnareNoise;
    case 41:
    case 43:
        return kLowTom;
    case 45:
    case 47:
        return kMiddleTom;
    case 48:
    case 50:
        return kHighTom;
    case 42:
    case 44:
    case 54:
        return kClosedHiHat;
    case 46:
        return kOpenHiHat;
    case 49:
        return kCrash;
    case 51:
        return kRide;
    default:
        return kDefaultNoise;
    }
}

// `level` is already computed; the caller knows which loudness the row scales.
void apply_row(const SynthState& synth, Voice& voice, const DrumRow& row, int32_t note,
               float level) noexcept {
    voice.kind = row.kind;
    voice.pending_pitch_note = row.pitch_note >= 0 ? row.pitch_note : note;
    voice.hold_samples =
        synth_half_rate(synth.sample_rate) ? row.hold_samples / 2 : row.hold_samples;
    voice.level = level;
    voice.level_slope = per_sample_at(synth.sample_rate, row.level_slope);
    voice.cents_slide = per_sample_at(synth.sample_rate, row.cents_slide);
    if (voice.cents_slide != 0.0f) {
        // The sweep starts from the voice's own pitch offset at the first boundary.
        voice.cents_pending = 1;
        voice.pending_cents = voice.cents + voice.cents_slide;
    }
}

} // namespace

void drum_note_on(SynthState& synth, Voice& voice, int32_t channel, int32_t note,
                  int32_t velocity) noexcept {
    voice.pending_pitch_note = note;
    voice.kind = kVoiceNoiseDrum;
    voice.drum_wave = synth.drum_square;
    voice.level_slope = 0.0f;
    voice.cents_slide = 0.0f;

    float v = clamp_level(1.2f * voice.level);
    const DrumRow& row = choose_row(synth.channels[channel & 15].program & 127, note);
    float level = v * row.level_factor;
    if (&row == &kBassDrum) {
        level = level > 127.0f ? 127.0f : level;
    }
    apply_row(synth, voice, row, note, level);
    if (&row != &kSnareNoise) {
        return;
    }

    // The snare's tone part: a second voice, whose loudness comes from its own start level.
    Voice& tone = voice_allocate(synth);
    voice_start(synth, tone, channel, note, velocity);
    tone.kind = kVoiceToneDrum;
    tone.drum_wave = synth.drum_square;
    apply_row(synth, tone, kSnareTone, note, clamp_level(tone.level * kSnareTone.level_factor));
}
