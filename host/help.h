// Help: the help document (HTML, shipped with the program), found once by
// the "FPSHL_HLP" rule and kept; the help window that shows it; and help
// mode, in which F1 on an open menu makes the highlighted item's command
// open its topic instead of acting.  Interface thread only, except
// find_help_file.
#pragma once

#include <QString>

#include <string>

class QMenu;

namespace host {

// The help document's default name and extension.
constexpr const char kHelpName[] = "FPSHL";
constexpr const char kHelpExtension[] = ".html";

// The lookup rule.  `variable` is the value of "FPSHL_HLP" (nullptr or
// empty when unset): a value ending in "/" names a directory holding the
// default name, a name without an extension gets ".html", a missing name
// is "FPSHL"; that file is taken when it exists.  Otherwise "FPSHL.html" is
// looked for in `exe_dir`, then in each folder of `xdg_data_dirs` (nullptr
// or empty: /usr/local/share and /usr/share) under "loxnar", then in
// share/loxnar beside `exe_dir`.  None found: "FPSHL.html" as it is.
std::string find_help_file(const char* variable, const std::string& exe_dir, const char* xdg_data_dirs);

// The help file of this process: found on first use and kept.
const std::string& help_file();

// The topic of a menu command in help mode (0: none).
int help_context(int command);

// The help window at the document's contents (1016), at its page about
// the help window (1017), at the topic of a context number.
void show_help_contents();
void show_help_on_help();
void show_help_context(int context);

// Help mode: F1 on an open popup of `menu` chooses the highlighted item in
// help mode.  Installed on each popup of the full menu.
void help_watch_menu(QMenu* menu);
// Called with every command a text window receives: in help mode the
// command opens its topic (or shows "Help not available for menu item")
// instead of acting, and help mode ends.  True when it took the command.
bool help_mode_intercepts(int command);

// The source the help window shows ("loxnar-help:TOPIC"; empty when it was
// never opened), for tests.
QString help_window_source();

}  // namespace host
