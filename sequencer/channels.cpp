#include "sequencer/channels.h"
