#include "audio/pipewire_output.h"

bool audio_output_start(AudioOutput& audio, Player& player, uint32_t rate) {
    audio = AudioOutput{};
    audio.player = &player;
    audio.rate = rate;
    return false;
}

void audio_output_stop(AudioOutput& audio) { audio = AudioOutput{}; }
