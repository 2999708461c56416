// loxnar's windowed mode with its one answer typed in: the benchmarks' way
// to run the calculator through the host without a person at the keyboard.
//
//   host_run NAME                 types NAME and Enter when the program asks,
//                                 answers Yes to the exit prompt, and ends
//                                 with the program's exit code
//   host_run --first-paint NAME   the same, but prints the time of the first
//                                 paint of a text window (CLOCK_REALTIME, ns)
//                                 and ends there
//   host_run --bare-qt            the peer of --first-paint: the time of the
//                                 first paint of a plain Qt window
//
// The platform is Qt's offscreen one unless QT_QPA_PLATFORM or DISPLAY
// says otherwise.  Everything else is what loxnar runs: the same host, the
// same run-time initialisation, the same main program.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "calculation_run.h"
#include "for_diags.h"
#include "for_host.h"
#include "for_startup.h"
#include "host.h"

namespace {

void run_program(int argc, char** argv) {
    forrtl::for_rtl_init(argc, argv, 0);
    calculator::calculation_run();
}

int answer_prompt(const char* text, const char*, unsigned) {
    if (std::strncmp(text, "Program Terminated", 18) == 0) return forrtl::MB_ANSWER_YES;
    std::fprintf(stderr, "host_run: box: %s\n", text);
    return 1;
}
const host::DialogProvider kDialogs = {answer_prompt, nullptr};

void print_first_paint() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    std::printf("first paint %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    std::fflush(stdout);
    std::_Exit(0);
}

// A plain Qt window: what any Qt program needs before its first paint.
int bare_qt(char** argv) {
    static int qt_argc = 1;
    QApplication app(qt_argc, argv);
    struct FirstPaint : QObject {
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) print_first_paint();
            return false;
        }
    } filter;
    QLabel label(QStringLiteral("bare"));
    label.installEventFilter(&filter);
    label.resize(600, 400);
    label.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare-qt") == 0) return bare_qt(argv);
    bool first_paint = false;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--first-paint") == 0) {
        first_paint = true;
        ++arg;
    }
    if (arg >= argc) {
        std::fprintf(stderr, "usage: host_run [--first-paint] NAME\n");
        return 2;
    }
    const QString name = QString::fromLocal8Bit(argv[arg]);
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    static int qt_argc = 1;
    forrtl::for_install_exception_handlers();
    QApplication app(qt_argc, argv);
    host::set_dialog_provider(&kDialogs);
    if (first_paint) host::set_first_paint_hook(print_first_paint);
    if (host::initialise() != 0) return 1;
    host::start_calculation(run_program, 1, argv);
    bool typed = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (typed || !host::read_pending(1024)) return;
        QTest::keyClicks(host::window_view(1024), name);
        QTest::keyClick(host::window_view(1024), Qt::Key_Return);
        typed = true;
        timer.stop();
    });
    timer.start(1);
    QApplication::exec();
    std::fflush(nullptr);
    std::_Exit(host::exit_code());
}
