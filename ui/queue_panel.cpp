#include "ui/queue_panel.h"

#include <algorithm>

#include "base/clock_text.h"
#include "shell/app_state.h"
#include "ui/layout.h"

namespace {

int32_t entry_count(const AppState& app) {
    return static_cast<int32_t>(app.queue.entries.size());
}

int32_t clamp_top(const AppState& app, int32_t top) {
    return std::clamp(top, 0, std::max(0, entry_count(app) - layout::kQueueRows));
}

} // namespace

void show_queue_entry(AppState& app, int32_t index) {
    auto& panel = app.queue_panel;
    if (index < panel.top) panel.top = index;
    if (index >= panel.top + layout::kQueueRows) panel.top = index - layout::kQueueRows + 1;
    panel.top = clamp_top(app, panel.top);
}

int32_t queue_panel_top(const AppState& app) {
    return clamp_top(app, app.queue_panel.top);
}

std::vector<QueueRow> queue_rows(const AppState& app) {
    std::vector<QueueRow> rows;
    const int32_t current = queue_current(app.queue);
    const int32_t top = queue_panel_top(app);
    const int32_t end = std::min(entry_count(app), top + layout::kQueueRows);
    for (int32_t index = top; index < end; ++index) {
        const QueueEntry& entry = app.queue.entries[index];
        QueueRow row;
        row.title = entry.title;
        if (entry.info_ready) row.length = clock_text(entry.length_seconds).text;
        row.current = index == current;
        row.selected = app.queue_panel.focused && index == app.queue_panel.selected;
        rows.push_back(std::move(row));
    }
    return rows;
}

void follow_current_song(AppState& app) {
    auto& panel = app.queue_panel;
    const int32_t current = queue_current(app.queue);
    if (current != panel.followed) {
        panel.followed = current;
        if (current >= 0) show_queue_entry(app, current);
    }
    panel.top = clamp_top(app, panel.top);
    if (panel.selected >= entry_count(app)) panel.selected = entry_count(app) - 1;
}

void scroll_queue_panel(AppState& app, int rows) {
    app.queue_panel.top = clamp_top(app, app.queue_panel.top + rows);
}
