// The look of the host's widgets: Qt's Fusion style with three changes of
// our own, installed for the whole application by the host's
// initialisation.  Interface thread only.
//   - A scroll bar's thumb is drawn in a mid grey on its light track, so
//     that where the view stands reads at a glance.
//   - A grayed menu item can be highlighted, so that F1 gives its help.
//   - The title bar of a text window whose unit is open has no close
//     button (nor the maximised window's close control in the menu bar):
//     such a window cannot be closed, and a button that does nothing is
//     not drawn.
#pragma once

class QWidget;

namespace host {

void install_host_style();

// Whether the MDI child `sub` may be closed by the user; its close button
// is drawn only then.  The frame sets it when the window's unit closes.
void set_closable(QWidget* sub, bool closable);

}  // namespace host
