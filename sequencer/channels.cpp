// Power-on state of the 16 channels and the voice pool.
#include "sequencer/channels.h"

#include "synth/synth_state.h"
#include "synth/voice.h"

void voice_to_rest(const SynthState& synth, Voice& voice) noexcept {
    // Cleared outright, not released: the voice falls silent at once.
    voice = Voice{};
    voice.kind = kVoiceMelodic;
    voice.pitch_note = 60;
    voice.pending_pitch_note = -1;
    voice.expression = 127;
    voice.env_stage = kEnvFinished;
    voice.pan = 64;
    voice.gain_left = static_cast<float>(127 - voice.pan) * (1.0f / 127);
    voice.gain_right = static_cast<float>(voice.pan) * (1.0f / 127);
    voice.rate = static_cast<float>(synth.sample_rate);
}

void reset_synth(SynthState& synth) noexcept {
    for (int32_t n = 0; n < kChannelCount; ++n) {
        ChannelState& ch = synth.channels[n];
        // The user's mute choice survives every reset.
        ch = ChannelState{.mute = ch.mute,
                          .program = 80,
                          .volume = 100,
                          .expression = 127,
                          .bank = 0,
                          .pan = 64,
                          .sustain = 0,
                          .bend = 0,
                          .bend_range = 2,
                          .bend_cents = 0,
                          .detune = channel_detune(n),
                          .rpn_msb = 127,
                          .rpn_lsb = 127,
                          .drum = n == 9 ? 1 : 0};
    }
    for (Voice& voice : synth.voices) {
        voice_to_rest(synth, voice);
    }
    synth.custom_wave_mode = 0;
    synth.custom_waves_present = 0;
}
