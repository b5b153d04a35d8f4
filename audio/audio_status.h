// The output's status text, shared by the stream and the shell that retries it.
#pragma once

inline constexpr const char* kAudioFailedText = "PipeWire output could not be started";
