// Where everything sits on the skin and in the sprite atlas. The drawing code, the pointer
// regions and the artwork generator all read these numbers, so the picture and the controls
// cannot drift apart. Skin units: the 640 x 470 space of the skin image. Atlas units: pixels of
// the atlas image, whose sprites are always painted 1:1 in skin units.
#pragma once

namespace layout {

struct Rect {
    int x;
    int y;
    int width;
    int height;
};

struct Point {
    int x;
    int y;
};

// Images.
inline constexpr int kSkinWidth = 640;
inline constexpr int kSkinHeight = 470;
inline constexpr int kAtlasWidth = 640;
inline constexpr int kAtlasHeight = 1056;
inline constexpr int kWindowWidth = 960; // the default window: the skin at 1.5 x
inline constexpr int kWindowHeight = 705;

// Atlas sprite families. Frame k of a family sits at origin + k * step.
inline constexpr int kDigitWidth = 6;
inline constexpr int kDigitHeight = 6;
inline constexpr Point kDigitOrigin = {96, 520};
inline constexpr int kDigitStep = 6;

inline constexpr int kButtonWidth = 35;
inline constexpr int kButtonHeight = 22;
inline constexpr Point kLitPlaySprite = {0, 32};
inline constexpr Point kLitStopSprite = {70, 32};
inline constexpr Point kLitPauseSprite = {105, 32};

inline constexpr int kMuteWidth = 11;
inline constexpr int kMuteHeight = 14;
inline constexpr Point kMutedSprite = {0, 630};
inline constexpr Point kUnmutedSprite = {13, 630};

inline constexpr int kSmallSpriteWidth = 16; // voice count and sustain
inline constexpr int kSmallSpriteHeight = 10;
inline constexpr Point kVoiceCountOrigin = {36, 650};
inline constexpr int kVoiceCountStep = 18;
inline constexpr int kVoiceCountFrames = 7; // 0 to 6 voices
inline constexpr Point kSustainOnSprite = {256, 650};
inline constexpr Point kSustainOffSprite = {18, 650};

inline constexpr int kBarFrames = 16; // bars and meters: value / 8 for 0..127
inline constexpr int kBarHeight = 48;
inline constexpr int kNarrowBarWidth = 4;
inline constexpr Point kNarrowBarOrigin = {300, 1008};
inline constexpr int kNarrowBarStep = 7;
inline constexpr int kMeterWidth = 14;
inline constexpr Point kMeterOrigin = {0, 1008};
inline constexpr int kMeterStep = 15;

inline constexpr int kIndicatorWidth = 33; // pan and pitch bend
inline constexpr int kIndicatorHeight = 9;
inline constexpr Point kIndicatorOrigin = {0, 500};
inline constexpr int kIndicatorStep = 34;
inline constexpr int kIndicatorFrames = 17;

inline constexpr int kWaveBoxWidth = 32; // waveform box and drum icon
inline constexpr int kWaveBoxHeight = 16;
inline constexpr Point kDrumIconSprite = {0, 610};

// Channel strips: channel n's column is shifted right by n * kChannelPitch.
inline constexpr int kChannelCount = 16;
inline constexpr int kChannelPitch = 36;
inline constexpr Point kMuteButton = {61, 72};
inline constexpr Point kVoiceCount = {77, 74};
inline constexpr Point kVolumeBar = {63, 96};
inline constexpr Point kExpressionBar = {68, 96};
inline constexpr Point kEnvelopeBar = {73, 96};
inline constexpr Point kLevelMeter = {78, 96};
inline constexpr Point kBendIndicator = {61, 147};
inline constexpr Point kPanIndicator = {61, 158};
inline constexpr Point kProgramDigits = {76, 171};
inline constexpr Point kBankDigits = {76, 182};
inline constexpr Point kWaveBox = {62, 192};
inline constexpr int kWaveCentreRow = 200;
inline constexpr Point kFrequencyDigits = {64, 212}; // five digits, ten-thousands first
inline constexpr Point kSustain = {61, 221};

// Song and transport display.
inline constexpr Rect kPlayingBar = {416, 56, 218, 8};
inline constexpr Rect kSeekBar = {62, 426, 236, 15};
inline constexpr Point kFileNameBaseline = {63, 417};
inline constexpr int kFileNameWidth = 236; // the file name fits above the seek bar
inline constexpr int kCounterRowY = 446;
inline constexpr int kTickGroupX[4] = {63, 81, 99, 117}; // 2, 2, 2 and 3 digits
inline constexpr int kTempoDigitsX = 164;
inline constexpr int kDivisionDigitsX = 203;

// The status line: a panel of its own right of the seek bar, one line of text.
inline constexpr Rect kStatusPanel = {306, 421, 328, 26};
inline constexpr Point kStatusBaseline = {312, 438};
inline constexpr int kStatusTextWidth = 316;

// Pointer regions. Lower bounds included, upper bounds excluded.
inline constexpr int kTitleStripTop = 5;     // above it the whole width moves the window
inline constexpr int kTitleStripBottom = 23; // exclusive; moves up to 22 inclusive
inline constexpr int kTitleMoveBottom = 22;  // inclusive bottom of the move area
inline constexpr int kMinimiseLeft = 581;
inline constexpr int kMaximiseLeft = 599;
inline constexpr int kCloseLeft = 615;
inline constexpr int kCloseRight = 631;
inline constexpr int kControlsLeft = 62; // nothing left of this below the title strip

inline constexpr int kTransportTop = 42;
inline constexpr int kTransportBottom = 64;
inline constexpr int kTransportPitch = 40;
inline constexpr int kTransportFirstLeft = 132;
// Buttons left to right on the transport row.
enum TransportButton {
    kPlayButton,
    kOpenButton,
    kStopButton,
    kPauseButton,
    kWavButton,
    kPrefsButton
};
inline constexpr int kTransportButtonCount = 6;
constexpr int transport_button_left(int button) {
    return kTransportFirstLeft + kTransportPitch * button;
}

inline constexpr int kMuteRegionTop = 72;
inline constexpr int kMuteRegionBottom = 86;
inline constexpr int kMuteRegionLeft = 62;
inline constexpr int kMuteRegionWidth = 33;

// Decoration: painted into the skin by the artwork generator, read by nothing else.
inline constexpr Point kTitleText = {8, kTitleStripTop + 5}; // "VELTA" in the title strip
inline constexpr Point kTitleCaption = {44, kTitleStripTop + 5};
inline constexpr int kTitleGripLeft = 172;            // ridges from here to the window keys
inline constexpr Rect kBrandPanel = {8, 30, 116, 34}; // left of the transport keys
inline constexpr int kLegendX = 6;                    // the channel rows' names
inline constexpr Rect kLeftGrille = {12, 243, 196, 143};
inline constexpr Rect kKeyGuide = {224, 243, 192, 143};
inline constexpr Rect kRightGrille = {432, 243, 196, 143};
inline constexpr Point kScrews[2] = {{3, kSkinHeight - 8}, {kSkinWidth - 8, kSkinHeight - 8}};

} // namespace layout
