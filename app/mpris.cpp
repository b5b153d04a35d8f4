#include "app/mpris.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include <gtk/gtk.h>

#include "shell/app_state.h"
#include "ui/actions.h"
#include "ui/input.h"

namespace {

constexpr const char* kBusName = "org.mpris.MediaPlayer2.velta";
constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kTrackPrefix = "/io/github/velta/Velta/track/";

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="read"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="LoopStatus" type="s" access="readwrite"/>
    <property name="Shuffle" type="b" access="readwrite"/>
  </interface>
</node>)";

// What the bus sees of the player, taken under its lock.
struct Snapshot {
    std::string status = "Stopped";
    std::string path;
    std::string title; // the song's own, else its file name
    int64_t length_us = 0;
    int64_t position_us = 0;
    bool loaded = false;
    double volume = 1.0;
    bool can_next = false;
    bool can_previous = false;
    std::string loop = "None";
    bool shuffle = false;

    bool operator==(const Snapshot&) const = default;
};

} // namespace

struct MprisService {
    GDBusConnection* connection = nullptr;
    GDBusNodeInfo* node = nullptr;
    guint name_id = 0;
    guint root_id = 0;
    guint player_id = 0;
    uint32_t track_number = 0;
    Snapshot last;
};

namespace {

int64_t frames_to_us(uint64_t frames, int32_t rate) {
    return rate > 0 ? static_cast<int64_t>(frames * 1000000.0 / rate) : 0;
}

Snapshot take_snapshot(AppState& app) {
    const TransportState state = player_transport(app.player);
    Snapshot s;
    s.loaded = state.loaded;
    s.status = !state.active ? "Stopped" : state.paused ? "Paused" : "Playing";
    s.path = state.path;
    s.title = app.words.title;
    s.length_us = frames_to_us(state.length_frames, state.rate);
    s.position_us = frames_to_us(state.position, state.rate);
    s.volume = app.volume;
    s.can_next = queue_can_go_next(app.queue);
    s.can_previous = queue_can_go_previous(app.queue);
    s.loop = app.queue.repeat == RepeatMode::kQueue ? "Playlist"
             : app.queue.repeat == RepeatMode::kOne ? "Track"
                                                    : "None";
    s.shuffle = app.queue.shuffle;
    return s;
}

// The desktop's loop names as the repeat action's.
const char* repeat_for_loop(const char* loop) {
    if (g_strcmp0(loop, "Playlist") == 0) return "queue";
    if (g_strcmp0(loop, "Track") == 0) return "one";
    if (g_strcmp0(loop, "None") == 0) return "off";
    return nullptr;
}

std::string track_id(const MprisService& service) {
    return kTrackPrefix + std::to_string(service.track_number);
}

GVariant* metadata(const MprisService& service, const Snapshot& s) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (s.loaded) {
        g_variant_builder_add(&builder, "{sv}", "mpris:trackid",
                              g_variant_new_object_path(track_id(service).c_str()));
        g_variant_builder_add(&builder, "{sv}", "mpris:length", g_variant_new_int64(s.length_us));
        // Decoded to valid UTF-8, as the bus demands.
        if (!s.title.empty())
            g_variant_builder_add(&builder, "{sv}", "xesam:title",
                                  g_variant_new_string(s.title.c_str()));
        if (!s.path.empty()) {
            gchar* uri = g_filename_to_uri(s.path.c_str(), nullptr, nullptr);
            if (uri != nullptr)
                g_variant_builder_add(&builder, "{sv}", "xesam:url", g_variant_new_string(uri));
            g_free(uri);
        }
    }
    return g_variant_builder_end(&builder);
}

GVariant* string_list(std::initializer_list<const char*> items) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const char* item : items)
        g_variant_builder_add(&builder, "s", item);
    return g_variant_builder_end(&builder);
}

GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                       const gchar* name, GError**, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    const std::string property = name;
    if (g_strcmp0(interface, kRootInterface) == 0) {
        if (property == "CanQuit" || property == "CanRaise") return g_variant_new_boolean(TRUE);
        if (property == "HasTrackList") return g_variant_new_boolean(FALSE);
        if (property == "Identity") return g_variant_new_string("VELTA");
        if (property == "DesktopEntry") return g_variant_new_string(kApplicationId);
        if (property == "SupportedUriSchemes") return string_list({"file"});
        if (property == "SupportedMimeTypes") return string_list({"audio/midi", "audio/x-midi"});
        return nullptr;
    }
    const Snapshot s = take_snapshot(app);
    if (property == "PlaybackStatus") return g_variant_new_string(s.status.c_str());
    if (property == "Rate" || property == "MinimumRate" || property == "MaximumRate")
        return g_variant_new_double(1.0);
    if (property == "Metadata") return metadata(*app.mpris, s);
    if (property == "Position") return g_variant_new_int64(s.position_us);
    if (property == "CanGoNext") return g_variant_new_boolean(s.can_next);
    if (property == "CanGoPrevious") return g_variant_new_boolean(s.can_previous);
    if (property == "LoopStatus") return g_variant_new_string(s.loop.c_str());
    if (property == "Shuffle") return g_variant_new_boolean(s.shuffle);
    if (property == "CanPlay" || property == "CanPause" || property == "CanSeek")
        return g_variant_new_boolean(s.loaded);
    if (property == "CanControl") return g_variant_new_boolean(TRUE);
    if (property == "Volume") return g_variant_new_double(s.volume);
    return nullptr;
}

// Volume is the action's linear amplitude: 0.5 halves it. Beyond 0 to 1 it is limited there.
// LoopStatus and Shuffle are the repeat and shuffle actions' states.
gboolean set_property(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                      const gchar* name, GVariant* value, GError** error, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    const bool ours = g_strcmp0(interface, kPlayerInterface) == 0 && app.actions != nullptr;
    if (ours && g_strcmp0(name, "Volume") == 0) {
        g_action_group_change_action_state(app.actions, "volume",
                                           g_variant_new_double(g_variant_get_double(value)));
    } else if (ours && g_strcmp0(name, "Shuffle") == 0) {
        g_action_group_change_action_state(app.actions, "shuffle",
                                           g_variant_new_boolean(g_variant_get_boolean(value)));
    } else if (ours && g_strcmp0(name, "LoopStatus") == 0) {
        const char* repeat = repeat_for_loop(g_variant_get_string(value, nullptr));
        if (repeat == nullptr) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No such loop status");
            return FALSE;
        }
        g_action_group_change_action_state(app.actions, "repeat", g_variant_new_string(repeat));
    } else {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "%s is read-only", name);
        return FALSE;
    }
    mpris_poll(app);
    return TRUE;
}

// Every method but OpenUri and Raise activates an action.
void call_method(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                 GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    const std::string name = method;
    if (name == "Raise") {
        if (app.window != nullptr) gtk_window_present(GTK_WINDOW(app.window));
    } else if (name == "Quit") {
        activate_action(app, "quit");
    } else if (name == "Play") {
        activate_action(app, "play");
    } else if (name == "Pause") {
        // Pausing a paused song changes nothing, as the desktop expects.
        if (take_snapshot(app).status == "Playing") activate_action(app, "pause");
    } else if (name == "PlayPause") {
        activate_action(app, "play-pause");
    } else if (name == "Stop") {
        activate_action(app, "stop");
    } else if (name == "Next") {
        activate_action(app, "next");
    } else if (name == "Previous") {
        activate_action(app, "previous");
    } else if (name == "Seek") {
        gint64 offset = 0;
        g_variant_get(parameters, "(x)", &offset);
        const Snapshot s = take_snapshot(app);
        // Past the end of the song is the next one, when there is one.
        if (s.loaded && s.can_next && offset > 0 && offset >= s.length_us - s.position_us)
            activate_action(app, "next");
        else
            activate_action(app, "seek-by",
                            g_variant_new_double(static_cast<double>(offset) / 1e6));
    } else if (name == "SetPosition") {
        const gchar* track = nullptr;
        gint64 position = 0;
        g_variant_get(parameters, "(&ox)", &track, &position);
        const Snapshot s = take_snapshot(app);
        // A position for another track, or outside this one, is ignored.
        if (s.loaded && s.length_us > 0 && track_id(*app.mpris) == track && position >= 0 &&
            position <= s.length_us)
            activate_action(app, "seek-to",
                            g_variant_new_double(static_cast<double>(position) /
                                                 static_cast<double>(s.length_us)));
    } else if (name == "OpenUri") {
        const gchar* uri = nullptr;
        g_variant_get(parameters, "(&s)", &uri);
        gchar* host = nullptr;
        gchar* path = g_filename_from_uri(uri, &host, nullptr);
        // file://otherhost/x names a file on another machine, not the local /x.
        const bool remote = host != nullptr && g_ascii_strcasecmp(host, "localhost") != 0;
        g_free(host);
        if (remote) {
            g_free(path);
            path = nullptr;
        }
        if (path == nullptr) {
            g_dbus_method_invocation_return_dbus_error(invocation,
                                                       "org.freedesktop.DBus.Error.InvalidArgs",
                                                       "Only local file URIs can be opened");
            return;
        }
        // The queue becomes that file, playing.
        QueueOpen how;
        how.first_song = FirstSong::kPlay;
        queue_open(app, {path}, how);
        add_recent_song(path);
        g_free(path);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    mpris_poll(app);
}

const GDBusInterfaceVTable kVTable = {call_method, get_property, set_property, {}};

// After a seek action: the new position, as the desktop's Seeked signal.
void on_seeked(AppState& app) {
    if (app.mpris == nullptr) return;
    g_dbus_connection_emit_signal(app.mpris->connection, nullptr, kObjectPath, kPlayerInterface,
                                  "Seeked", g_variant_new("(x)", take_snapshot(app).position_us),
                                  nullptr);
}

void emit_changed(MprisService& service, const Snapshot& now, bool song_changed) {
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    if (now.status != service.last.status)
        g_variant_builder_add(&changed, "{sv}", "PlaybackStatus",
                              g_variant_new_string(now.status.c_str()));
    if (now.volume != service.last.volume)
        g_variant_builder_add(&changed, "{sv}", "Volume", g_variant_new_double(now.volume));
    if (now.can_next != service.last.can_next)
        g_variant_builder_add(&changed, "{sv}", "CanGoNext", g_variant_new_boolean(now.can_next));
    if (now.can_previous != service.last.can_previous)
        g_variant_builder_add(&changed, "{sv}", "CanGoPrevious",
                              g_variant_new_boolean(now.can_previous));
    if (now.loop != service.last.loop)
        g_variant_builder_add(&changed, "{sv}", "LoopStatus",
                              g_variant_new_string(now.loop.c_str()));
    if (now.shuffle != service.last.shuffle)
        g_variant_builder_add(&changed, "{sv}", "Shuffle", g_variant_new_boolean(now.shuffle));
    if (song_changed) {
        g_variant_builder_add(&changed, "{sv}", "Metadata", metadata(service, now));
        for (const char* can : {"CanPlay", "CanPause", "CanSeek"})
            g_variant_builder_add(&changed, "{sv}", can, g_variant_new_boolean(now.loaded));
    }
    g_dbus_connection_emit_signal(service.connection, nullptr, kObjectPath,
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                  g_variant_new("(sa{sv}as)", kPlayerInterface, &changed, nullptr),
                                  nullptr);
}

} // namespace

void mpris_start(AppState& app) {
    if (app.mpris != nullptr || app.application == nullptr) return;
    GDBusConnection* connection = g_application_get_dbus_connection(G_APPLICATION(app.application));
    if (connection == nullptr) return;
    auto* service = new MprisService;
    service->connection = G_DBUS_CONNECTION(g_object_ref(connection));
    service->node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    service->root_id = g_dbus_connection_register_object(
        connection, kObjectPath, service->node->interfaces[0], &kVTable, &app, nullptr, nullptr);
    service->player_id = g_dbus_connection_register_object(
        connection, kObjectPath, service->node->interfaces[1], &kVTable, &app, nullptr, nullptr);
    service->name_id = g_bus_own_name_on_connection(
        connection, kBusName, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr, nullptr);
    service->last = take_snapshot(app);
    app.mpris = service;
    app.seeked_hook = on_seeked;
}

void mpris_poll(AppState& app) {
    MprisService* service = app.mpris;
    if (service == nullptr) return;
    const Snapshot now = take_snapshot(app);
    const bool song_changed = now.path != service->last.path || now.title != service->last.title ||
                              now.loaded != service->last.loaded ||
                              now.length_us != service->last.length_us;
    if (song_changed) ++service->track_number;
    // The position moves on its own; the desktop asks for it (and hears of seeks).
    Snapshot compare = now;
    compare.position_us = service->last.position_us;
    if (song_changed || compare != service->last) emit_changed(*service, now, song_changed);
    service->last = now;
}

void mpris_stop(AppState& app) {
    MprisService* service = app.mpris;
    if (service == nullptr) return;
    g_bus_unown_name(service->name_id);
    g_dbus_connection_unregister_object(service->connection, service->root_id);
    g_dbus_connection_unregister_object(service->connection, service->player_id);
    g_dbus_node_info_unref(service->node);
    g_object_unref(service->connection);
    delete service;
    app.mpris = nullptr;
    app.seeked_hook = nullptr;
}
