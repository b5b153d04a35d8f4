// The files the program ships beside itself, named once for the artwork generator, the
// resource lookup and the tools.
#pragma once

inline constexpr const char* kSkinFile = "velta236_ui_skin.png";
inline constexpr const char* kAtlasFile = "velta236_ui_atlas.png";
inline constexpr const char* kDemoSongFile = "final-bowser.mid";
