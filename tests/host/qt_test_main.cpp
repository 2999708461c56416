// main() of the host tests that run the host in the test process: one
// QApplication on the offscreen platform, the host initialised once, boxes
// answered by the recording dialog provider.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "host_test_support.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    host::set_dialog_provider(&hosttest::kRecordingDialogs);
    if (host::initialise() != 0) return 1;
    const int result = RUN_ALL_TESTS();
    // A failed test may leave a calculation thread blocked in the host: no
    // static destructors under its feet.
    std::fflush(nullptr);
    std::_Exit(result);
}
