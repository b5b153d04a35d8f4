#include "sequencer/transport.h"
