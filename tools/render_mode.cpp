#include "tools/render_mode.h"

#include <cstdio>

int render_to_wav(const RenderOptions&) {
    fputs("velta-render: rendering is not available yet\n", stderr);
    return 3;
}
