#include "ui/picture.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sequencer/draw_snapshot.h"
#include "shell/app_state.h"
#include "ui/draw.h"
#include "ui/queue_panel.h"

namespace {

struct PictureState {
    AppState* app = nullptr;
    DrawSnapshot latest;  // the tick's, compared with the painted one
    DrawSnapshot painted; // what the shown frame was painted from
    FrameText painted_text;
    bool painted_once = false;
    // The nodes of the last frame; they stay valid while the view and the images do.
    int width = 0;
    int height = 0;
    double device_scale = 0.0;
    cairo_surface_t* skin = nullptr;
    cairo_surface_t* atlas = nullptr;
    GskRenderNode* skin_node = nullptr;
    std::vector<std::string> keys;
    std::vector<GskRenderNode*> nodes;

    void drop_nodes() {
        g_clear_pointer(&skin_node, gsk_render_node_unref);
        for (GskRenderNode*& node : nodes)
            g_clear_pointer(&node, gsk_render_node_unref);
        nodes.clear();
        keys.clear();
    }
    ~PictureState() { drop_nodes(); }
};

} // namespace

struct _VeltaPicture {
    GtkDrawingArea parent;
    PictureState* state;
};
G_DECLARE_FINAL_TYPE(VeltaPicture, velta_picture, VELTA, PICTURE, GtkDrawingArea)
G_DEFINE_TYPE(VeltaPicture, velta_picture, GTK_TYPE_DRAWING_AREA)

namespace {

// Device pixels per widget pixel: fractional where the toolkit knows it.
double device_scale_of(GtkWidget* widget) {
#if GTK_CHECK_VERSION(4, 12, 0)
    GtkNative* native = gtk_widget_get_native(widget);
    GdkSurface* surface = native != nullptr ? gtk_native_get_surface(native) : nullptr;
    if (surface != nullptr) return gdk_surface_get_scale(surface);
#endif
    return gtk_widget_get_scale_factor(widget);
}

graphene_rect_t widget_rect(layout::Rect rect, const ViewTransform& view) {
    // Outward to whole pixels: the element's pixels all lie inside.
    const float left = std::floor(rect.x * view.scale + view.offset_x);
    const float top = std::floor(rect.y * view.scale + view.offset_y);
    const float right = std::ceil((rect.x + rect.width) * view.scale + view.offset_x);
    const float bottom = std::ceil((rect.y + rect.height) * view.scale + view.offset_y);
    return GRAPHENE_RECT_INIT(left, top, right - left, bottom - top);
}

// Painted here into an image of device pixels rather than recorded for the renderer: a recording
// is in widget pixels, where the edges of sprites at half pixels would be rounded before the
// device's scale is applied.
GskRenderNode* element_node(const PictureElement& element, const ViewTransform& view,
                            double device_scale) {
    const graphene_rect_t bounds = widget_rect(element.bounds, view);
    if (device_scale == 1.0) { // widget pixels are device pixels: a recording is cheaper to draw
        GskRenderNode* node = gsk_cairo_node_new(&bounds);
        cairo_t* cr = gsk_cairo_node_get_draw_context(node);
        enter_skin_space(cr, view);
        element.paint(cr);
        cairo_destroy(cr);
        return node;
    }
    const int left = static_cast<int>(std::floor(bounds.origin.x * device_scale));
    const int top = static_cast<int>(std::floor(bounds.origin.y * device_scale));
    const int width = static_cast<int>(std::ceil(bounds.size.width * device_scale)) + 1;
    const int height = static_cast<int>(std::ceil(bounds.size.height * device_scale)) + 1;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_set_device_scale(image, device_scale, device_scale);
    cairo_surface_set_device_offset(image, -left, -top);
    cairo_t* cr = cairo_create(image);
    enter_skin_space(cr, view);
    element.paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(image);
    GBytes* bytes = g_bytes_new_with_free_func(
        cairo_image_surface_get_data(image),
        static_cast<gsize>(cairo_image_surface_get_stride(image)) * height,
        reinterpret_cast<GDestroyNotify>(cairo_surface_destroy), image);
    GdkTexture* texture = gdk_memory_texture_new(width, height, GDK_MEMORY_DEFAULT, bytes,
                                                 cairo_image_surface_get_stride(image));
    g_bytes_unref(bytes);
    const graphene_rect_t placed = GRAPHENE_RECT_INIT(
        static_cast<float>(left / device_scale), static_cast<float>(top / device_scale),
        static_cast<float>(width / device_scale), static_cast<float>(height / device_scale));
    GskRenderNode* node = gsk_texture_node_new(texture, &placed);
    g_object_unref(texture);
    return node;
}

GskRenderNode* skin_node(cairo_surface_t* skin, const ViewTransform& view, double device_scale) {
    const graphene_rect_t bounds =
        widget_rect({0, 0, layout::kSkinWidth, layout::kSkinHeight}, view);
    GskRenderNode* node = gsk_cairo_node_new(&bounds);
    cairo_t* cr = gsk_cairo_node_get_draw_context(node);
    paint_skin(cr, skin, view, device_scale);
    cairo_destroy(cr);
    return node;
}

void picture_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
    PictureState& state = *VELTA_PICTURE(widget)->state;
    AppState& app = *state.app;
    // The one snapshot this frame paints: a repaint queued by an action shows its effect.
    take_draw_snapshot(app.player, state.painted);
    follow_current_song(app);
    const FrameText text = frame_text(app, state.painted);
    const int width = gtk_widget_get_width(widget);
    const int height = gtk_widget_get_height(widget);
    const double device_scale = device_scale_of(widget);
    const ViewTransform view = view_transform(width, height, device_scale);
    app.view_scale = view.scale;
    app.view_offset_x = view.offset_x;
    app.view_offset_y = view.offset_y;
    if (width != state.width || height != state.height || device_scale != state.device_scale ||
        app.skin != state.skin || app.atlas != state.atlas) {
        state.drop_nodes();
        state.width = width;
        state.height = height;
        state.device_scale = device_scale;
        state.skin = app.skin;
        state.atlas = app.atlas;
    }
    if (state.skin_node == nullptr) state.skin_node = skin_node(app.skin, view, device_scale);
    gtk_snapshot_append_node(snapshot, state.skin_node);
    const std::vector<PictureElement> elements =
        picture_elements(state.painted, {app.skin, app.atlas}, text);
    state.keys.resize(elements.size());
    state.nodes.resize(elements.size(), nullptr);
    for (size_t i = 0; i < elements.size(); ++i) {
        if (state.nodes[i] == nullptr || state.keys[i] != elements[i].key) {
            g_clear_pointer(&state.nodes[i], gsk_render_node_unref);
            state.nodes[i] = element_node(elements[i], view, device_scale);
            state.keys[i] = elements[i].key;
        }
        gtk_snapshot_append_node(snapshot, state.nodes[i]);
    }
    state.painted_text = text;
    state.painted_once = true;
}

void on_scale_changed(GtkWidget* widget, GParamSpec*, gpointer) {
    gtk_widget_queue_draw(widget);
}

void picture_finalize(GObject* object) {
    delete VELTA_PICTURE(object)->state;
    G_OBJECT_CLASS(velta_picture_parent_class)->finalize(object);
}

} // namespace

static void velta_picture_class_init(VeltaPictureClass* klass) {
    GTK_WIDGET_CLASS(klass)->snapshot = picture_snapshot;
    G_OBJECT_CLASS(klass)->finalize = picture_finalize;
}

static void velta_picture_init(VeltaPicture* self) {
    self->state = new PictureState;
}

GtkWidget* picture_new(AppState& app) {
    auto* picture = static_cast<VeltaPicture*>(g_object_new(velta_picture_get_type(), nullptr));
    picture->state->app = &app;
    g_signal_connect(picture, "notify::scale-factor", G_CALLBACK(on_scale_changed), nullptr);
    return GTK_WIDGET(picture);
}

void picture_tick(GtkWidget* picture) {
    PictureState& state = *VELTA_PICTURE(picture)->state;
    if (!gtk_widget_get_mapped(picture)) return;
    // Without a frame to paint the toolkit's frame clock stays still too.
    take_draw_snapshot(state.app->player, state.latest);
    follow_current_song(*state.app);
    if (!state.painted_once || !(state.latest == state.painted) ||
        !(frame_text(*state.app, state.latest) == state.painted_text)) {
        gtk_widget_queue_draw(picture);
    }
}
