#include "song/midi_reader.h"
