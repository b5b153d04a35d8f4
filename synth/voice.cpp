#include "synth/voice.h"
