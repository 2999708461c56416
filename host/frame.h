// The frame window: menu bar (minimal and full), MDI client, status bar.
// Interface thread only.
#pragma once

#include <string>

class QMdiArea;

namespace host {

// Creates and shows the frame titled with the application name (maximised
// when the profile says so).  Returns false when it could not be created.
bool frame_create(const std::string& app_name);

// Exit: the minimal menu back, then the frame closes (no question).
void frame_exit();
void frame_toggle_status_bar();
bool frame_status_bar_visible();
void frame_about();
bool frame_full_menu_built();
QMdiArea* frame_mdi_area();
// The exit hook of the text windows: the full menu bar's popups removed
// and destroyed (on the interface thread; elsewhere nothing).
void frame_release_menus();

}  // namespace host
