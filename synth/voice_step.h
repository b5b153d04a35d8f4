// The per-sample voice update, split so the render loop can inline the part that runs on every
// sample and call out only at the end of a waveform period.
#pragma once

#include "synth/synth_state.h"

inline void voice_request_stop(Voice& voice) noexcept {
    voice.note = -1;
    voice.stop_pending = 1;
}

inline void voice_finish_now(Voice& voice) noexcept {
    voice.env_stage = kEnvFinished;
    voice_request_stop(voice);
}

// Envelope, level slope, pitch slide and hold time, in that order.
inline void voice_step_controls(Voice& voice) noexcept {
    switch (voice.env_stage) {
    case kEnvAttack:
        voice.env_level += voice.attack_step;
        if (voice.env_level > kEnvFullLevel - 1) {
            voice.env_stage = kEnvDecay;
            voice.env_level = kEnvFullLevel;
        }
        break;
    case kEnvDecay: {
        int32_t x = voice.env_level - voice.decay_step;
        if (x < voice.env_sustain || voice.decay_step == 0) {
            voice.env_level = voice.env_sustain;
            voice.env_stage = kEnvSustain;
        } else {
            voice.env_level = x;
        }
        break;
    }
    case kEnvSustain: {
        int32_t x = voice.env_level - voice.sustain_step;
        if (x < 0) {
            voice.env_level = 0;
            voice_finish_now(voice);
        } else {
            voice.env_level = x;
        }
        break;
    }
    case kEnvRelease: {
        int32_t x = voice.env_level - voice.release_step;
        if (x > 0) {
            voice.env_level = x;
        } else {
            voice.env_level = 0;
            voice_finish_now(voice);
        }
        break;
    }
    case kEnvFinished:
        voice.env_level = 0;
        voice_request_stop(voice);
        break;
    default:
        break;
    }

    if (voice.level_slope != 0.0f) {
        float level = voice.level + voice.level_slope;
        if (level < 0.0f) {
            voice.level = 0.0f;
            voice_request_stop(voice);
        } else {
            voice.level = level;
        }
    }

    if (voice.cents_slide != 0.0f) {
        voice.pending_cents =
            (voice.cents_pending != 0 ? voice.pending_cents : voice.cents) + voice.cents_slide;
        voice.cents_pending = 1;
    }

    if (voice.hold_samples > 0) {
        if (voice.hold_samples == 1) {
            voice_request_stop(voice);
        }
        voice.hold_samples -= 1;
    }
}

// Deferred changes wait for the end of the waveform period so a cycle is never cut short.
inline bool voice_at_boundary(const Voice& voice) noexcept {
    return voice.phase_counter == 0 ||
           !(static_cast<float>(voice.phase_counter) < voice.period_end);
}

// The end-of-period work: frees a voice whose stop is pending (returns false), otherwise takes
// over pending pitch, expression and pan and begins the next cycle.
bool voice_period_boundary(Voice& voice) noexcept;
