#include "synth/render.h"
