#include "sequencer/player.h"

#include <cstring>

void player_set_status(Player& player, const char* text) noexcept {
    size_t length = strnlen(text, kStatusCapacity - 1);
    memcpy(player.status_text, text, length);
    player.status_text[length] = '\0';
}
