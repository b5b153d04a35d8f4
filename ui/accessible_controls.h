// Real widgets laid over the skin's controls, so that a screen reader and the keyboard reach what
// the picture only paints. They are transparent and take no pointer events: the pointer keeps
// going to the skin, the widgets take the keyboard focus and activate the same actions.
#pragma once

#include <string>

#include "ui/layout.h"
#include "ui/regions.h"

struct AppState;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkApplication GtkApplication;

// The overlay to put in the window, with `picture` (the drawing area) as its child and a widget
// over each control; their states follow the Player. It also gives the picture its tooltips.
GtkWidget* build_accessible_controls(AppState& app, GtkWidget* picture);

// What a skin region is called, and up to two detailed actions whose keys its tooltip names
// (null: none). Regions without a control have no name.
struct ControlName {
    std::string name;
    const char* key_action = nullptr;
    const char* other_key_action = nullptr;
};
ControlName control_name(regions::Hit hit);

// Where a region's control sits on the skin; empty (0 x 0) for regions without one.
layout::Rect control_rect(regions::Hit hit);

// "Play (Space)", "Volume (Up, Down)": the name and the first key of each action of `name` in
// the application, as the desktop writes keys; the name alone when they have none.
std::string control_tooltip(GtkApplication* application, const ControlName& name);

// The seek slider's text: "1:23 of 4:56"; "No song" without a length.
std::string seek_value_text(double position_seconds, double length_seconds);
