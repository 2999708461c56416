// The run-time initialisation, run once in this test program's process.
#include <gtest/gtest.h>

#include <cerrno>
#include <cfenv>
#include <csignal>

#include "for_host.h"
#include "for_lub.h"
#include "for_startup.h"
#include "for_status.h"
#include "for_open_params.h"
#include "unit_fixture.h"

using namespace forrtl;
using namespace unit_test;

namespace {
int reported_code_page = 0;
int fake_set_code_page(int code_page) {
    reported_code_page = code_page;
    return 0;
}
}  // namespace

class Init : public TempDirTest {};

TEST_F(Init, RunsOnceInItsOrder) {
    static HostOps host{};
    host.set_code_page = fake_set_code_page;
    for_register_host(&host);

    char program[] = "loxnar", first[] = "first.dat", second[] = "second.dat";
    char* argv[] = {program, first, second, nullptr};
    errno = EINVAL;
    ASSERT_EQ(for_rtl_init(3, argv, FPO_TRAP_DIVIDE | FPO_COUNT_OVERFLOW), 0u);

    EXPECT_EQ(errno, 0);
    EXPECT_EQ(g_host_unit_to_window, &for_unit_to_window);
    EXPECT_EQ(g_host_window_to_unit, &for_window_to_unit);
    EXPECT_TRUE(reported_code_page == 65001 || reported_code_page == 1252 || reported_code_page >= 932)
        << reported_code_page;
    EXPECT_EQ(g_fp_option_word, FPO_TRAP_DIVIDE | FPO_COUNT_OVERFLOW);
    EXPECT_EQ(fegetexcept(), FE_DIVBYZERO);
    for_set_fp_control(0);

    // The console signals now reach the run-time's handler.
    for (int signal_number : {SIGINT, SIGQUIT, SIGHUP}) {
        struct sigaction current;
        ASSERT_EQ(sigaction(signal_number, nullptr, &current), 0);
        EXPECT_NE(current.sa_handler, SIG_DFL) << signal_number;
    }

    // Missing file names take the arguments after the program name, once each.
    const std::uint32_t prompt = SF_ERROR_BRANCH | SF_PROMPT_NAMES;
    EXPECT_EQ(open_unit(11, Keywords().text(KW_STATUS, "new"), prompt), 0);
    EXPECT_EQ(open_unit(12, Keywords().text(KW_FILE, "  ").text(KW_STATUS, "new"), prompt), 0);
    EXPECT_TRUE(exists("first.dat"));
    EXPECT_TRUE(exists("second.dat"));

    // A second initialisation finds the init-done lock held.
    reported_code_page = 0;
    EXPECT_EQ(for_rtl_init(3, argv, 0), status_of(MSG_LOCK_CONTENTION));
    EXPECT_EQ(reported_code_page, 0);
    for_register_host(nullptr);
}
