// The output's status text, shared by the stream and the shell that retries it.
#pragma once

inline constexpr const char* kAudioFailedText = "PipeWire output could not be started";
// The daemon went away from a running stream.
inline constexpr const char* kAudioLostText = "PipeWire output lost";
// The stream is up, but no block has been asked for in a while (a hung daemon).
inline constexpr const char* kAudioStalledText = "PipeWire output is not responding";
