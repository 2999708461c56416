// Help.  WinHelp and its .HLP files are not to be had here: the help is an
// HTML document of our own, FPSHL.html, installed with the program and
// shown in a help window (a QTextBrowser), one topic at a time.  Each
// topic is a heading of the document holding its anchor: "contents",
// "using-help", "context-N" for the context numbers 1000 to 1018 that the
// menu commands lead to in help mode, and the topics about the program
// that the contents lead to.
//
// The file is found as the original found FPSHL.HLP, with ".html" for the
// extension and, in place of the system's search path, the executable's
// folder, then the installed data folders ($XDG_DATA_DIRS/loxnar), then
// share/loxnar beside the executable's folder (an installation under any
// prefix).
#include "help.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "commands.h"
#include "host_state.h"

namespace host {

namespace {

bool regular_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executable_dir() {
    char path[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0) return std::string();
    path[n] = '\0';
    std::string dir = path;
    const auto slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}

// The help topics of the menu commands: command, context number.
struct HelpContext {
    int command;
    int context;
};
constexpr HelpContext kHelpContexts[] = {
    {1000, 1000}, {1004, 1002}, {1006, 1015}, {1007, 1016}, {1008, 1012}, {1009, 1013},
    {1010, 1010}, {1011, 1011}, {1012, 1009}, {1015, 1008}, {1018, 1001}, {1019, 1017},
    {1020, 1018}, {1021, 1007}, {1022, 1014}, {1023, 1004},
};

bool g_help_mode = false;

// Topics are shown one at a time under URLs of their own,
// "loxnar-help:NAME"; a link "#NAME" in a topic leads to topic NAME.
const QString kTopicScheme = QStringLiteral("loxnar-help");

QUrl topic_url(const QString& name) {
    QUrl url;
    url.setScheme(kTopicScheme);
    url.setPath(name);
    return url;
}

// One topic of the document: from the heading (h1 or h2) that holds its
// anchor to the next such heading, in a page of its own.
QString topic_html(const QString& document, const QString& name) {
    const QRegularExpression heading(QStringLiteral("<h[12]>\\s*<a name=\"([^\"]*)\">"));
    QRegularExpressionMatchIterator it = heading.globalMatch(document);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(1) != name) continue;
        const qsizetype start = match.capturedStart();
        const QRegularExpressionMatch next = heading.match(document, match.capturedEnd());
        qsizetype end = next.hasMatch() ? next.capturedStart() : document.indexOf(QStringLiteral("</body>"), start);
        if (end < 0) end = document.size();
        return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>") + document.mid(start, end - start) +
               QStringLiteral("</body></html>");
    }
    return QStringLiteral("<p>The help document has no topic <b>%1</b>.</p>").arg(name.toHtmlEscaped());
}

class HelpBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;

    QVariant loadResource(int type, const QUrl& name) override {
        if (name.scheme() != kTopicScheme) return QTextBrowser::loadResource(type, name);
        const std::string& path = help_file();
        QFile file(QString::fromLocal8Bit(path.c_str()));
        if (!regular_file(path) || !file.open(QIODevice::ReadOnly)) {
            return QStringLiteral("<p>The help file <b>%1</b> was not found.</p>")
                .arg(QString::fromLocal8Bit(path.c_str()).toHtmlEscaped());
        }
        return topic_html(QString::fromUtf8(file.readAll()), name.path());
    }

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override {
        // A link to another topic of the document: that topic alone.
        QUrl url = name;
        if (url.scheme() == kTopicScheme && url.hasFragment()) url = topic_url(url.fragment());
        QTextBrowser::doSetSource(url, type);
    }
};

QPointer<QTextBrowser> g_browser;

QTextBrowser* help_browser() {
    if (!g_browser) {
        g_browser = new HelpBrowser(ui_frame_widget());
        g_browser->setWindowFlags(Qt::Window);
        g_browser->setAttribute(Qt::WA_DeleteOnClose);
        g_browser->setWindowTitle(QString::fromStdString(facts().app_name) + QStringLiteral(" Help"));
        g_browser->setOpenLinks(true);
        g_browser->resize(640, 520);
        QTextBrowser* browser = g_browser;
        QObject::connect(new QShortcut(QKeySequence(Qt::Key_Escape), browser), &QShortcut::activated, browser,
                         [browser] { browser->close(); });
        // Over the frame's middle, below its menu bar.
        if (const QWidget* frame = ui_frame_widget()) {
            g_browser->move(frame->geometry().center() - g_browser->rect().center() + QPoint(0, 24));
        }
    }
    return g_browser;
}

void show_help_at(const QString& topic) {
    QTextBrowser* browser = help_browser();
    browser->setSource(topic_url(topic));
    browser->show();
    browser->raise();
    browser->activateWindow();
}

// F1 on an open popup: the highlighted item's command, in help mode.
class MenuHelpFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1) return false;
        auto* menu = qobject_cast<QMenu*>(watched);
        QAction* item = menu ? menu->activeAction() : nullptr;
        if (!item || item->isSeparator() || item->menu()) return true;
        // An item without a command of the table (an entry of the window
        // list) has no topic either: help mode shows the box for it.
        const int command = std::max(0, item->data().toInt());
        // The menus close as when an item is chosen; the command follows.
        while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        QTimer::singleShot(0, qApp, [command] {
            g_help_mode = true;
            run_command(command);
            g_help_mode = false;  // ends with this command, whatever took it
        });
        return true;
    }
};

}  // namespace

std::string find_help_file(const char* variable, const std::string& exe_dir, const char* xdg_data_dirs) {
    const std::string default_name = std::string(kHelpName) + kHelpExtension;
    if (variable && *variable) {
        // Folder, name and extension of the value.
        const std::string value = variable;
        const auto slash = value.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : value.substr(0, slash + 1);
        const std::string file = slash == std::string::npos ? value : value.substr(slash + 1);
        const auto dot = file.rfind('.');
        std::string name = dot == std::string::npos ? file : file.substr(0, dot);
        std::string extension = dot == std::string::npos ? std::string() : file.substr(dot);
        if (name.empty()) name = kHelpName;
        if (extension.empty()) extension = kHelpExtension;
        const std::string path = folder + name + extension;
        if (regular_file(path)) return path;
    }
    if (!exe_dir.empty() && regular_file(exe_dir + "/" + default_name)) return exe_dir + "/" + default_name;
    const std::string data_dirs = xdg_data_dirs && *xdg_data_dirs ? xdg_data_dirs : "/usr/local/share/:/usr/share/";
    std::size_t start = 0;
    while (start <= data_dirs.size()) {
        std::size_t end = data_dirs.find(':', start);
        if (end == std::string::npos) end = data_dirs.size();
        std::string dir = data_dirs.substr(start, end - start);
        if (!dir.empty()) {
            if (dir.back() != '/') dir += '/';
            const std::string path = dir + "loxnar/" + default_name;
            if (regular_file(path)) return path;
        }
        start = end + 1;
    }
    if (!exe_dir.empty()) {
        const std::string path = exe_dir + "/../share/loxnar/" + default_name;
        if (regular_file(path)) return path;
    }
    return default_name;
}

const std::string& help_file() {
    static const std::string path = find_help_file(std::getenv("FPSHL_HLP"), executable_dir(), std::getenv("XDG_DATA_DIRS"));
    return path;
}

int help_context(int command) {
    for (const HelpContext& c : kHelpContexts) {
        if (c.command == command) return c.context;
    }
    return 0;
}

void show_help_contents() { show_help_at(QStringLiteral("contents")); }

void show_help_on_help() { show_help_at(QStringLiteral("using-help")); }

void show_help_context(int context) { show_help_at(QStringLiteral("context-%1").arg(context)); }

void help_watch_menu(QMenu* menu) {
    // Grayed items can be highlighted too (the host's style allows it), so
    // that F1 gives their help.
    static MenuHelpFilter* filter = new MenuHelpFilter(qApp);
    if (menu) menu->installEventFilter(filter);
}

bool help_mode_intercepts(int command) {
    if (!g_help_mode) return false;
    g_help_mode = false;
    if (const int context = help_context(command)) {
        show_help_context(context);
    } else {
        show_message_box("Help not available for menu item", facts().app_name.c_str(), 0);
    }
    return true;
}

QString help_window_source() { return g_browser ? g_browser->source().toString() : QString(); }

}  // namespace host
