// Time of one full draw of the main window at 960 x 705 into an image surface while all 46
// voices sound: the locked snapshot and the painting, separately and together.
// Usage: bench_draw [--frames N] [ASSET_DIR]   (default: the build tree's share/velta)
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/asset_names.h"
#include "tests/support/song_gen.h"
#include "sequencer/draw_snapshot.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "synth/synth.h"
#include "ui/draw.h"
#include "ui/layout.h"
#include "ui/skin.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRate = 44100;
constexpr uint32_t kBlock = 1024;

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct Stats {
    double median;
    double worst;
};
Stats stats(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

int active_voices(const Player& player) {
    int n = 0;
    for (const Voice& voice : player.synth.voices)
        n += voice.active != 0 ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 500;
    std::string assets = VELTA_ASSET_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else {
            assets = argv[i];
        }
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string song =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velta_bench_draw_stress.mid";
    if (!song_gen::write_file(song, song_gen::stress_song(10))) {
        std::fprintf(stderr, "cannot write %s\n", song.c_str());
        return 1;
    }
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    if (!load_song(*player, song.c_str())) {
        std::fprintf(stderr, "%s: %s\n", song.c_str(), player->status_text);
        return 1;
    }
    start_playback(*player);
    std::vector<int16_t> block(kBlock * 2);
    for (int i = 0; i < 20; ++i) { // half a second in: every voice sounds, controllers move
        std::lock_guard guard(player->lock);
        synth_render(*player, block.data(), kBlock);
    }

    const DrawImages images{load_png(assets.c_str(), kSkinFile),
                            load_png(assets.c_str(), kAtlasFile)};
    if (images.skin == nullptr || images.atlas == nullptr) {
        std::fprintf(stderr, "skin or atlas missing in %s\n", assets.c_str());
        return 1;
    }
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, layout::kWindowWidth,
                                                         layout::kWindowHeight);
    cairo_t* cr = cairo_create(target);
    auto snapshot = std::make_unique<DrawSnapshot>();
    std::vector<double> locked, painted, whole;
    for (int i = -10; i < frames; ++i) { // ten warm-up frames
        const auto start = Clock::now();
        take_draw_snapshot(*player, *snapshot);
        const auto taken = Clock::now();
        paint_frame(cr, layout::kWindowWidth, layout::kWindowHeight, *snapshot, images);
        cairo_surface_flush(target);
        const auto end = Clock::now();
        if (i < 0) continue;
        locked.push_back(microseconds(taken - start));
        painted.push_back(microseconds(end - taken));
        whole.push_back(microseconds(end - start));
    }
    const Stats snap = stats(locked), paint = stats(painted), total = stats(whole);
    std::printf("draw at %dx%d, %d voices sounding, %d frames (median / worst):\n",
                layout::kWindowWidth, layout::kWindowHeight, active_voices(*player), frames);
    std::printf("  snapshot (under the lock) %8.1f / %8.1f us\n", snap.median, snap.worst);
    std::printf("  painting                  %8.1f / %8.1f us\n", paint.median, paint.worst);
    std::printf("  one full draw             %8.1f / %8.1f us\n", total.median, total.worst);
    cairo_destroy(cr);
    cairo_surface_destroy(target);
    cairo_surface_destroy(images.skin);
    cairo_surface_destroy(images.atlas);
    return 0;
}
