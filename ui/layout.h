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
inline constexpr Point kLitPreviousSprite = {210, 32};
inline constexpr Point kLitNextSprite = {245, 32};

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

// The clock's digits, colon and slash, and the volume's per cent sign: the 5 x 7 pixel font at
// twice its size. A digit advances kClockDigitStep, a colon kClockColonStep.
inline constexpr int kClockGlyphHeight = 14;
inline constexpr int kClockDigitWidth = 10;
inline constexpr int kClockDigitStep = 12;
inline constexpr int kClockColonWidth = 4;
inline constexpr int kClockColonStep = 6;
inline constexpr Point kClockDigitOrigin = {0, 730}; // 0 to 9, kClockDigitStep apart
inline constexpr Point kClockColonSprite = {120, 730};
inline constexpr Point kClockSlashSprite = {126, 730};
inline constexpr Point kClockPercentSprite = {138, 730};

// The queue's toggles: repeat off, the queue, one song; shuffle off, on.
inline constexpr int kToggleWidth = 42;
inline constexpr int kToggleHeight = 12;
inline constexpr Point kRepeatOrigin = {0, 700};
inline constexpr Point kShuffleOrigin = {0, 714};
inline constexpr int kToggleStep = 44;

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
inline constexpr Rect kPlayingBar = {458, 56, 176, 8};
inline constexpr Rect kSeekBar = {62, 426, 236, 15};
// The song's title above the seek bar, its copyright under the title.
inline constexpr Rect kSongBox = {62, 395, 236, 26};
inline constexpr Point kTitleBaseline = {65, 406};
inline constexpr Point kCopyrightBaseline = {65, 417};
inline constexpr int kSongTextWidth = 230;
inline constexpr int kCounterRowY = 446;
inline constexpr int kTickGroupX[3] = {63, 84, 105}; // three digits each: a count, not a clock
inline constexpr int kTempoDigitsX = 164;
inline constexpr int kDivisionDigitsX = 203;

// The status line: a panel of its own right of the seek bar, one line of text.
inline constexpr Rect kStatusPanel = {306, 421, 328, 26};
inline constexpr Point kStatusBaseline = {312, 438};
inline constexpr int kStatusTextWidth = 316;

// The queue: a list of songs left, its toggles above it.
inline constexpr Point kQueueLabel = {12, 243};
inline constexpr Rect kQueueList = {12, 256, 290, 128};
inline constexpr int kQueueRowHeight = 12;
inline constexpr int kQueueRows = 10;
inline constexpr int kQueueTextInset = 4;
inline constexpr Point kRepeatToggle = {214, 241};
inline constexpr Point kShuffleToggle = {260, 241};

// The display right of the queue: the clock and the volume on top, the song's words (or the
// keys, for songs without words) below.
inline constexpr Point kTimeLabel = {316, 243};
inline constexpr Rect kDisplayPanel = {316, 256, 312, 128};
inline constexpr int kClockTop = 262;
inline constexpr int kElapsedClockRight = 394; // the elapsed time ends here, h:mm:ss or less
inline constexpr int kClockSlashX = 402;
inline constexpr int kTotalClockLeft = 420;
inline constexpr Point kVolumeLabel = {532, 243};
inline constexpr int kVolumeDigitsX = 534; // three digits, then the per cent sign
inline constexpr Rect kVolumeMeter = {534, 279, 86, 3};
inline constexpr Rect kVolumeRegion = {530, 258, 94, 26}; // a click sets the volume
inline constexpr int kDisplayDividerY = 287;
inline constexpr Rect kWordsArea = {320, 290, 304, 90};
inline constexpr Point kLyricBaseline = {326, 314};
inline constexpr Point kNextLyricBaseline = {326, 338};
inline constexpr int kLyricWidth = 292;

// Pointer regions. Lower bounds included, upper bounds excluded.
inline constexpr int kTitleStripTop = 5;     // above it the whole width moves the window
inline constexpr int kTitleStripBottom = 23; // exclusive; moves up to 22 inclusive
inline constexpr int kTitleMoveBottom = 22;  // inclusive bottom of the move area
inline constexpr int kMinimiseLeft = 581;
inline constexpr int kMaximiseLeft = 599;
inline constexpr int kCloseLeft = 615;
inline constexpr int kCloseRight = 631;
inline constexpr int kControlsLeft = 62; // left of this only the queue below the title strip

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
    kPrefsButton,
    kPreviousButton,
    kNextButton
};
inline constexpr int kTransportButtonCount = 8;
constexpr int transport_button_left(int button) {
    return kTransportFirstLeft + kTransportPitch * button;
}

// Dragging the bottom-right corner resizes the window (over the "VT-236" mark and the screw).
inline constexpr Rect kResizeGrip = {604, 449, kSkinWidth - 604, kSkinHeight - 449};

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
inline constexpr Point kScrews[2] = {{3, kSkinHeight - 8}, {kSkinWidth - 8, kSkinHeight - 8}};

} // namespace layout
