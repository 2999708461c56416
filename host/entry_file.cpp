#include "entry_file.h"

#include <QMimeData>
#include <QUrl>

#include <limits.h>

#include <string>

#include "for_host.h"
#include "host_state.h"
#include "platform.h"

namespace host {

namespace {

const EntryFileRule* g_rule = nullptr;

}  // namespace

void set_entry_file_rule(const EntryFileRule* rule) { g_rule = rule; }

const EntryFileRule* entry_file_rule() { return g_rule; }

bool entry_file_enabled() {
    return g_rule && pending_input_window() != nullptr && run_state() == RunState::Running;
}

void open_entry_file_command() {
    if (!entry_file_enabled()) return;
    char path[PATH_MAX + 1];
    const int chosen = dialog_provider_open_file(path, sizeof path, g_rule->dialog_title, g_rule->filters);
    // The read may have been answered otherwise, or the program paused,
    // while the dialog was open.
    if (chosen > 0) answer_with_entry_file(QString::fromLocal8Bit(path));
}

bool entry_file_of_drop(const QMimeData* data, QString* path) {
    if (!entry_file_enabled() || !data || !data->hasUrls()) return false;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return false;
    *path = urls.front().toLocalFile();
    return !path->isEmpty();
}

void answer_with_entry_file(const QString& path) {
    if (!entry_file_enabled()) {
        platform_beep();
        return;
    }
    std::string line, error;
    if (!g_rule->accept(path.toLocal8Bit().constData(), &line, &error)) {
        show_message_box(error.c_str(), facts().app_name.c_str(), forrtl::MB_TASK_MODAL | forrtl::MB_ICON_EXCLAMATION);
        return;
    }
    type_answer(line);
}

}  // namespace host
