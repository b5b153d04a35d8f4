// Style sheets for every window of the display, on both the toolkit versions we build with.
#pragma once

#include <gtk/gtk.h>

inline void add_style_sheet(const char* sheet, guint priority) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return;
    GtkCssProvider* css = gtk_css_provider_new();
#if GTK_CHECK_VERSION(4, 12, 0)
    gtk_css_provider_load_from_string(css, sheet);
#else
    gtk_css_provider_load_from_data(css, sheet, -1);
#endif
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(css), priority);
    g_object_unref(css);
}
