#pragma once

#include <cstdint>

struct MidiEvent;
struct Player;
struct Playhead;
struct Song;

// Applies every song event due at or before `frame`. Caller holds the Player lock.
void dispatch_events(Player& player, uint64_t frame) noexcept;
// The same on any playhead; the caller keeps whatever it belongs to from changing meanwhile.
void dispatch_events(const Playhead& head, uint64_t frame) noexcept;

// The user-waveform slot a SysEx event uploads into, or -1 when it is no upload.
int32_t sysex_wave_slot(const Song& song, const MidiEvent& event) noexcept;
