#include "synth/drums.h"
