// The program's entry file item (command 1101, "&File" popup) and the
// files dropped on the window: while the program waits for a line, the
// chosen file is handed to the program's rule, which answers with the line
// to type.  Interface thread only.
#pragma once

#include <QString>

#include "host.h"

class QMimeData;

namespace host {

constexpr int kOpenEntryFile = 1101;

// The rule the program set, or nullptr (no item, no drops).
const EntryFileRule* entry_file_rule();
// Whether the item may be chosen (and a file dropped) now: a read waits
// and the program runs.
bool entry_file_enabled();
// The item: the file dialog, then the file as the answer.
void open_entry_file_command();
// The local file a drag brings, when it brings exactly one and the window
// takes it now.
bool entry_file_of_drop(const QMimeData* data, QString* path);
// Hands the file to the program's rule, then types its line and Enter; a
// file the rule refuses gets a box with the reason.
void answer_with_entry_file(const QString& path);

}  // namespace host
