#include "sequencer/dispatch.h"
