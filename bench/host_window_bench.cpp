// Output into a shown text window (Qt offscreen platform unless a display
// is set): a calculation thread writes 80-character records through the
// host operation the run-time calls, while the interface thread paints.
// Peers in the same run: the same records into a model of the window's
// size alone (no locks, no thread, no painting), and written to /dev/null
// with one write(2) each, as console mode writes a terminal.  Then the
// cost of one repaint after a record, as the window shows it and fitted
// (Size To Fit: the whole virtual screen rendered and stretched).
//
//   host_window_bench [RECORDS]     (default 300000)
#include <QAbstractScrollArea>
#include <QApplication>
#include <QScreen>
#include <QElapsedTimer>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "for_host.h"
#include "host.h"
#include "host_state.h"
#include "text_screen.h"
#include "views.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> make_records(int count) {
    std::vector<std::string> records;
    records.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        char head[32];
        std::snprintf(head, sizeof head, "%8d", i);
        std::string r = head;
        while (r.size() < 80) r += static_cast<char>('A' + (r.size() + static_cast<std::size_t>(i)) % 26);
        r += "\r\n";
        records.push_back(r);
    }
    return records;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300000;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::vector<std::string> records = make_records(count);

    // Peer 2: one write(2) per record to /dev/null.
    const int null_fd = open("/dev/null", O_WRONLY);
    const auto null_start = Clock::now();
    for (const std::string& r : records) {
        if (write(null_fd, r.data(), r.size()) < 0) return 1;
    }
    const double devnull_s = seconds_since(null_start);
    close(null_fd);

    // The window.
    static int qt_argc = 1;
    QApplication app(qt_argc, argv);
    if (host::initialise() != 0) return 1;
    const forrtl::HostOps& ops = *forrtl::g_host;
    ops.write_text("start\r\n", 7, 1024, 0);
    QElapsedTimer wait;
    wait.start();
    while (!host::window_shown(1024) && wait.elapsed() < 5000) QCoreApplication::processEvents();
    auto* view = static_cast<QAbstractScrollArea*>(host::window_view(1024));
    PaintCounter paints;
    view->viewport()->installEventFilter(&paints);

    std::atomic<bool> done{false};
    double window_s = 0;
    std::thread writer([&] {
        const auto t0 = Clock::now();
        for (const std::string& r : records) ops.write_text(r.data(), static_cast<int>(r.size()), 1024, 0);
        window_s = seconds_since(t0);
        done.store(true);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done.load()) QCoreApplication::quit();
    });
    poll.start(5);
    QApplication::exec();
    writer.join();

    // Peer 1: the model alone.
    host::TextScreen model;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    model.reset(screen.width() / 8, screen.height() / 16);
    const auto start = Clock::now();
    for (const std::string& r : records) model.write(r.data(), static_cast<int>(r.size()), host::Encoding::SingleByte);
    const double model_s = seconds_since(start);


    const QSize client = view->viewport()->size();
    std::printf("records: %d of 80 characters + CR LF; window client %dx%d px on the %s platform\n", count,
                client.width(), client.height(), qPrintable(QGuiApplication::platformName()));
    std::printf("text window (shown): %8.3f s  %10.0f records/s  %6.2f us/record  %d repaints\n", window_s,
                count / window_s, window_s * 1e6 / count, paints.paints);
    std::printf("model alone:         %8.3f s  %10.0f records/s  %6.2f us/record\n", model_s, count / model_s,
                model_s * 1e6 / count);
    std::printf("write(2) /dev/null:  %8.3f s  %10.0f records/s  %6.2f us/record\n", devnull_s, count / devnull_s,
                devnull_s * 1e6 / count);
    std::printf("window / write(2) = %.2fx\n", window_s / devnull_s);

    // One record then one repaint, as shown and fitted.
    auto repaint_ms = [&](int rounds) {
        const auto t0 = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            const std::string& r = records[static_cast<std::size_t>(i) % records.size()];
            ops.write_text(r.data(), static_cast<int>(r.size()), 1024, 0);
            view->viewport()->repaint();
        }
        return seconds_since(t0) * 1e3 / rounds;
    };
    const int rounds = 300;
    const double shown_ms = repaint_ms(rounds);
    host::fit_command(host::window_for(1024));
    const double fitted_ms = repaint_ms(rounds);
    std::printf("a record and a repaint: shown %.3f ms, fitted %.3f ms (%.1fx), %d rounds\n", shown_ms, fitted_ms,
                fitted_ms / shown_ms, rounds);
    std::fflush(stdout);
    std::_Exit(0);
}
