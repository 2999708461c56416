// Record transfer: terminators, carriage control, buffer growth, input
// records and their line ends, unformatted length fields, pending records
// and window units of a host.
#include <string>
#include <vector>

#include "for_host.h"
#include "for_open_params.h"
#include "forrtl/unit_fixture.h"

using namespace unit_test;

namespace {

using RecordsTest = TempDirTest;

TEST_F(RecordsTest, FormattedRecordsEndWithCrLfAndTruncateTheOldFile) {
    ASSERT_EQ(write_records(15, {"one", "", "three"}), 0u);
    EXPECT_EQ(close_unit(15), 0);
    EXPECT_EQ(slurp("fort.15"), "one\r\n\r\nthree\r\n");

    std::string ten;
    for (int i = 1; i <= 10; ++i) ten += "old line " + std::to_string(i) + "\r\n";
    spit("ten.dat", ten);
    ASSERT_EQ(open_unit(16, Keywords().text(KW_FILE, "ten.dat").text(KW_STATUS, "unknown")), 0);
    ASSERT_EQ(write_records(16, {"new 1", "new 2"}), 0u);
    EXPECT_EQ(close_unit(16), 0);
    EXPECT_EQ(slurp("ten.dat"), "new 1\r\nnew 2\r\n");

    // POSITION='APPEND' keeps the old records.
    ASSERT_EQ(open_unit(16, Keywords().text(KW_FILE, "ten.dat").text(KW_POSITION, "append")), 0);
    ASSERT_EQ(write_records(16, {"new 3"}), 0u);
    EXPECT_EQ(close_unit(16), 0);
    EXPECT_EQ(slurp("ten.dat"), "new 1\r\nnew 2\r\nnew 3\r\n");
}

TEST_F(RecordsTest, LineEndsLfAndCrLfReadTheSame) {
    struct Row {
        const char* label;
        std::string bytes;
    };
    const Row rows[] = {
        {"CR LF", "  5.0  5.0\r\nQUARTZ\r\n\r\nlast\r\n"},
        {"LF", "  5.0  5.0\nQUARTZ\n\nlast\n"},
        {"mixed", "  5.0  5.0\r\nQUARTZ\n\r\nlast\n"},
    };
    for (const Row& row : rows) {
        spit("entry.dat", row.bytes);
        ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "entry.dat").text(KW_STATUS, "old")), 0) << row.label;
        std::vector<std::string> records;
        EXPECT_EQ(read_records(10, 5, records), status_of(MSG_END_OF_FILE)) << row.label;
        EXPECT_EQ(records, (std::vector<std::string>{"  5.0  5.0", "QUARTZ", "", "last"})) << row.label;
        EXPECT_EQ(close_unit(10), 0);
    }
    // A CR inside a line is data.
    spit("cr.dat", "a\rb\r\n");
    std::vector<std::string> records;
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "cr.dat")), 0);
    EXPECT_EQ(read_records(10, 1, records), 0u);
    EXPECT_EQ(records, (std::vector<std::string>{"a\rb"}));
}

TEST_F(RecordsTest, LongLineDoublesTheBuffer) {
    std::string long_line(5000, 'x');
    long_line[0] = '<';
    long_line[4999] = '>';
    spit("long.dat", "short\n" + long_line + "\r\nafter\n");
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "long.dat")), 0);
    std::vector<std::string> records;
    EXPECT_EQ(read_records(10, 3, records), 0u);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1], long_line);
    EXPECT_EQ(records[2], "after");
}

TEST_F(RecordsTest, UnterminatedLastLineAndControlZ) {
    spit("tail.dat", "first\nno end");
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "tail.dat")), 0);
    std::vector<std::string> records;
    EXPECT_EQ(read_records(10, 2, records), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(records, (std::vector<std::string>{"first"}));
    EXPECT_EQ(close_unit(10), 0);

    // Under compatibility numbering the unterminated line is a record.
    records.clear();
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "tail.dat"), SF_ERROR_BRANCH | SF_COMPAT_NUMBERING), 0);
    EXPECT_EQ(read_records(10, 3, records, SF_ERROR_BRANCH | SF_COMPAT_NUMBERING), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(records, (std::vector<std::string>{"first", "no end"}));
    EXPECT_EQ(close_unit(10), 0);

    // A line of control-Z alone is the end of the file; it counts as a record.
    spit("ctrlz.dat", "data\r\n\x1a\r\nbeyond\r\n");
    records.clear();
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "ctrlz.dat")), 0);
    EXPECT_EQ(read_records(10, 3, records), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(records, (std::vector<std::string>{"data"}));
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(10, SK_INQUIRE, &lub), 0u);
    EXPECT_EQ(lub->records, 3);  // from 1, plus data and control-Z
    for_release_unit(lub);
}

TEST_F(RecordsTest, FortranCarriageControlBytes) {
    struct Row {
        const char* label;
        std::vector<std::string> records;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"blank plus zero one", {" A", "+B", "0C", "1D"}, "A\rB\r\n\nC\r\fD\r\n"},
        {"zero first", {"0C", " E"}, "\nC\r\nE\r\n"},
        {"dollar prompt", {"$Name? ", " X"}, "Name? \nX\r\n"},
        {"NUL control", {std::string("\0Q", 2), "+R"}, "QR\r\n"},
        {"other character", {"XA", "1"}, "A\r\f\r\n"},
        {"empty record", {"", "+Z"}, "\rZ\r\n"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(open_unit(25, Keywords().text(KW_FILE, "cc.txt").text(KW_CARRIAGECONTROL, "fortran")), 0)
            << row.label;
        // One statement per record: the line state lives on between them.
        for (const std::string& record : row.records) ASSERT_EQ(write_records(25, {record}), 0u) << row.label;
        ASSERT_EQ(close_unit(25), 0);
        EXPECT_EQ(visible(slurp("cc.txt")), visible(row.expected)) << row.label;
    }
}

TEST_F(RecordsTest, RecordTypesAndListCarriageControl) {
    struct Row {
        const char* label;
        const char* recordtype;
        const char* carriage;
        std::string expected;
    };
    const Row rows[] = {
        {"list first character 1", "STREAM_LF", "LIST", "1D\r\n2\r\n"},
        {"stream with list", "STREAM", "LIST", "1D\n2\n"},
        {"stream_cr with list", "STREAM_CR", "LIST", "1D\r\n2\r\n"},
        {"stream_cr without control", "STREAM_CR", "NONE", "1D\r2\r"},
        {"stream without control", "STREAM", "NONE", "1D2"},
        {"stream_lf without control", "STREAM_LF", "NONE", "1D\r\n2\r\n"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(open_unit(26, Keywords()
                                    .text(KW_FILE, "types.txt")
                                    .text(KW_RECORDTYPE, row.recordtype)
                                    .text(KW_CARRIAGECONTROL, row.carriage)),
                  0)
            << row.label;
        ASSERT_EQ(write_records(26, {"1D", "2"}), 0u) << row.label;
        ASSERT_EQ(close_unit(26), 0);
        EXPECT_EQ(visible(slurp("types.txt")), visible(row.expected)) << row.label;
    }
    // FIXED records are padded to RECL and carry no terminator; they read back.
    ASSERT_EQ(open_unit(27, Keywords().text(KW_FILE, "fixed.dat").text(KW_RECORDTYPE, "fixed").inline_int(KW_RECL, 4)),
              0);
    ASSERT_EQ(write_records(27, {"ab", "wxyz"}), 0u);
    ASSERT_EQ(close_unit(27), 0);
    EXPECT_EQ(slurp("fixed.dat"), "ab  wxyz");
    ASSERT_EQ(open_unit(27, Keywords().text(KW_FILE, "fixed.dat").text(KW_RECORDTYPE, "fixed").inline_int(KW_RECL, 4)),
              0);
    std::vector<std::string> records;
    EXPECT_EQ(read_records(27, 3, records), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(records, (std::vector<std::string>{"ab  ", "wxyz"}));
}

TEST_F(RecordsTest, DollarLeavesTheLineOpenForTheNextRecord) {
    ASSERT_EQ(write_records(6 + 30, {"  entry .dat file (no extension) ??"}, true), 0u);
    ASSERT_EQ(write_records(36, {"next"}), 0u);
    EXPECT_EQ(close_unit(36), 0);
    EXPECT_EQ(slurp("fort.36"), "  entry .dat file (no extension) ??\nnext\r\n");
}

TEST_F(RecordsTest, RecordGrowthOnlyWithoutRecl) {
    std::string wide(500, 'w');
    ASSERT_EQ(write_records(28, {wide, "x"}), 0u);
    EXPECT_EQ(close_unit(28), 0);
    EXPECT_EQ(slurp("fort.28"), wide + "\r\nx\r\n");

    ASSERT_EQ(open_unit(29, Keywords().text(KW_FILE, "narrow.dat").inline_int(KW_RECL, 132)), 0);
    EXPECT_EQ(write_records(29, {std::string(132, 'n')}), 0u);
    EXPECT_EQ(write_records(29, {std::string(133, 'n')}), status_of(MSG_RECORD_OVERFLOW));
    // The growth keeps what the record already holds, blank-filled beyond.
    ASSERT_EQ(open_unit(28, Keywords().text(KW_FILE, "grow.dat")), 0);
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(28, SK_WRITE, &lub), 0u);
    ASSERT_EQ(for_begin_output_record(lub), 0u);
    std::memcpy(lub->rec.buffer + lub->rec.pos, "abc", 3);
    lub->rec.pos += 130;
    std::int32_t before = lub->rec.capacity;
    ASSERT_EQ(for_record_room(lub, 10), 0u);
    EXPECT_EQ(lub->rec.capacity - before, 512);
    std::memcpy(lub->rec.buffer + lub->rec.pos, "Z", 1);
    lub->rec.pos += 1;
    ASSERT_EQ(for_put_record(lub), 0u);
    for_release_unit(lub);
    EXPECT_EQ(close_unit(28), 0);
    EXPECT_EQ(slurp("grow.dat"), "abc" + std::string(127, ' ') + "Z\r\n");
}

TEST_F(RecordsTest, UnformattedLengthWordsFollowConvert) {
    struct Row {
        const char* label;
        const char* convert;
        std::string expected;
    };
    const Row rows[] = {
        {"native", nullptr, std::string("\x03\0\0\0abc\x03\0\0\0", 11)},
        {"big endian", "BIG_ENDIAN", std::string("\0\0\0\x03" "abc\0\0\0\x03", 11)},
    };
    for (const Row& row : rows) {
        Keywords kw;
        kw.text(KW_FILE, "unf.dat").text(KW_FORM, "unformatted");
        if (row.convert) kw.text(KW_CONVERT, row.convert);
        ASSERT_EQ(open_unit(31, kw), 0) << row.label;
        Lub* lub = nullptr;
        ASSERT_EQ(for_lookup_unit(31, SK_WRITE, &lub), 0u);
        ASSERT_EQ(for_begin_output_record(lub), 0u);
        std::memcpy(lub->rec.buffer + lub->rec.pos, "abc", 3);
        lub->rec.pos += 3;
        ASSERT_EQ(for_put_unformatted_record(lub), 0u);
        for_release_unit(lub);
        ASSERT_EQ(close_unit(31), 0);
        EXPECT_EQ(visible(slurp("unf.dat")), visible(row.expected)) << row.label;

        ASSERT_EQ(open_unit(31, kw), 0) << row.label;
        ASSERT_EQ(for_lookup_unit(31, SK_READ, &lub), 0u);
        ASSERT_EQ(for_get_record(lub), 0u) << row.label;
        EXPECT_EQ(std::string(lub->rec.buffer + lub->rec.start, lub->rec.buffer + lub->rec.end), "abc") << row.label;
        EXPECT_EQ(for_get_record(lub), status_of(MSG_END_OF_FILE)) << row.label;
        for_release_unit(lub);
        ASSERT_EQ(close_unit(31), 0);
    }
    // A length field promising more than the file holds is a read error.
    spit("short.dat", std::string("\x08\0\0\0abc", 7));
    ASSERT_EQ(open_unit(32, Keywords().text(KW_FILE, "short.dat").text(KW_FORM, "unformatted")), 0);
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(32, SK_READ, &lub), 0u);
    EXPECT_EQ(for_get_record(lub), status_of(MSG_READ_ERROR));
    for_release_unit(lub);
}

TEST_F(RecordsTest, ReadAheadIsGivenBackBeforeAWrite) {
    spit("mixed.dat", "a\nb\nc\n");
    ASSERT_EQ(open_unit(33, Keywords().text(KW_FILE, "mixed.dat").text(KW_STATUS, "old")), 0);
    std::vector<std::string> records;
    ASSERT_EQ(read_records(33, 1, records), 0u);
    ASSERT_EQ(write_records(33, {"X"}), 0u);
    ASSERT_EQ(close_unit(33), 0);
    EXPECT_EQ(slurp("mixed.dat"), "a\nX\r\n");
}

TEST_F(RecordsTest, PendingRecordIsFlushedByTheNextStatementOnTheDevice) {
    ASSERT_EQ(open_unit(34, Keywords().text(KW_FILE, "pending.txt")), 0);
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(34, SK_WRITE, &lub), 0u);
    for_output_statement_begin(lub, SF_PENDING_RECORDS);
    ASSERT_EQ(for_begin_output_record(lub), 0u);
    std::memcpy(lub->rec.buffer + lub->rec.pos, "later", 5);
    lub->rec.pos += 5;
    ASSERT_EQ(for_output_statement_end(lub), 0u);
    for_release_unit(lub);
    EXPECT_EQ(slurp("pending.txt"), "");
    // INQUIRE transfers nothing and leaves it pending.
    ASSERT_EQ(for_lookup_unit(34, SK_INQUIRE, &lub), 0u);
    for_release_unit(lub);
    EXPECT_EQ(slurp("pending.txt"), "");
    ASSERT_EQ(for_lookup_unit(34, SK_WRITE, &lub), 0u);
    for_release_unit(lub);
    EXPECT_EQ(slurp("pending.txt"), "later\r\n");
}

TEST(DeviceNodes, HashOfTheNodeTable) {
    struct Row {
        const char* name;
        int bucket;
    };
    const Row rows[] = {{"CONOUT$", 505}, {"CON", 249},           {"PRN", 509},
                        {"ABCD", 8},      {"fort.20", 35},        {"/tmp/abc/results.imp.dat", 322},
                        {"/home/user/quartz.dat", 368}};
    for (const Row& row : rows)
        EXPECT_EQ(device_hash(row.name, static_cast<int>(std::strlen(row.name))), row.bucket) << row.name;
}

// A host that records what the run-time shows and answers reads with a
// typed line.
struct FakeHost {
    static inline std::string shown;
    static inline std::vector<int> windows;
    static int write_text(const char* text, int length, int window, int) {
        shown.append(text, static_cast<std::size_t>(length));
        windows.push_back(window);
        return length;
    }
    static int read_line(char* buffer, int capacity, int) {
        const char typed[] = "quartz";
        if (capacity < 6) return -1;
        std::memcpy(buffer, typed, 6);
        return 6;
    }
    static int current_window() { return 1024; }
    static int no_window(int) { return 0; }
    static int close_window(int, int) { return 0; }
};

TEST_F(RecordsTest, ConsoleUnitsAreWindowsUnderTheHost) {
    HostOps ops{};
    ops.write_text = FakeHost::write_text;
    ops.read_line = FakeHost::read_line;
    ops.current_window = FakeHost::current_window;
    ops.select_window = FakeHost::no_window;
    ops.activate_window = FakeHost::no_window;
    ops.close_window = FakeHost::close_window;
    FakeHost::shown.clear();
    for_register_host(&ops);
    Status written = write_records(6, {"     LOXNAR calculates d(hkl)"});
    Status prompt = write_records(6, {"  entry .dat file (no extension) ??"}, true);
    std::vector<std::string> records;
    Status read = read_records(5, 1, records);
    Status wrong_way = write_records(5, {"cannot"});
    for_close_all_units();
    for_register_host(nullptr);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(prompt, 0u);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(wrong_way, status_of(MSG_WRITE_ERROR));
    EXPECT_EQ(records, (std::vector<std::string>{"quartz"}));
    EXPECT_EQ(visible(FakeHost::shown),
              visible("     LOXNAR calculates d(hkl)\r\n  entry .dat file (no extension) ??\r\n"));
    for (int window : FakeHost::windows) EXPECT_EQ(window, 1024);
}

}  // namespace

namespace {

TEST_F(RecordsTest, SegmentedRecordsRoundTrip) {
    Keywords kw;
    kw.text(KW_FILE, "seg.dat").text(KW_FORM, "unformatted").text(KW_RECORDTYPE, "segmented");
    ASSERT_EQ(open_unit(35, kw), 0);
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(35, SK_WRITE, &lub), 0u);
    for (const char* text : {"odd", "even"}) {
        ASSERT_EQ(for_begin_output_record(lub), 0u);
        std::size_t n = std::strlen(text);
        std::memcpy(lub->rec.buffer + lub->rec.pos, text, n);
        lub->rec.pos += static_cast<std::int32_t>(n);
        ASSERT_EQ(for_put_unformatted_record(lub), 0u);
    }
    for_release_unit(lub);
    ASSERT_EQ(close_unit(35), 0);
    EXPECT_EQ(visible(slurp("seg.dat")), visible(std::string("\x03\0odd\0\x04\0even", 12)));
    ASSERT_EQ(open_unit(35, kw), 0);
    ASSERT_EQ(for_lookup_unit(35, SK_READ, &lub), 0u);
    std::vector<std::string> got;
    while (for_get_record(lub) == 0) got.emplace_back(lub->rec.buffer + lub->rec.start, lub->rec.buffer + lub->rec.end);
    for_release_unit(lub);
    EXPECT_EQ(got, (std::vector<std::string>{"odd", "even"}));
}

// A window of its own for a USER unit under the host, titled by TITLE=.
TEST_F(RecordsTest, UserUnitOpensItsOwnWindowUnderTheHost) {
    static std::string title;
    static std::vector<int> windows;
    HostOps ops{};
    ops.open_window = [](const char* t) {
        title = t ? t : "";
        return 1027;
    };
    ops.write_text = [](const char*, int length, int window, int) {
        windows.push_back(window);
        return length;
    };
    ops.current_window = [] { return 1024; };
    ops.select_window = [](int) { return 1; };
    ops.activate_window = [](int) { return 1; };
    ops.close_window = [](int window, int keep) {
        windows.push_back(-window - keep);
        return 0;
    };
    for_register_host(&ops);
    int opened = open_unit(46, Keywords().text(KW_FILE, "USER").text(KW_TITLE, "Plot  "));
    Status written = write_records(46, {"in the plot window"});
    int closed = close_unit(46);
    int untitled = open_unit(47, Keywords().text(KW_FILE, "user."));
    std::string second_title = title;
    for_close_all_units();
    for_register_host(nullptr);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(untitled, 0);
    EXPECT_EQ(second_title, "Unit 47");
    ASSERT_GE(windows.size(), 2u);
    EXPECT_EQ(windows[0], 1027);   // the record went to the unit's own window
    EXPECT_EQ(windows[1], -1027);  // CLOSE without STATUS destroys it
}

}  // namespace

namespace {

TEST_F(RecordsTest, FixedAppendStartsAfterTheLastWholeRecord) {
    spit("fixed.dat", "abcdefg");
    ASSERT_EQ(open_unit(37, Keywords()
                                .text(KW_FILE, "fixed.dat")
                                .text(KW_RECORDTYPE, "fixed")
                                .inline_int(KW_RECL, 4)
                                .text(KW_POSITION, "append")),
              0);
    ASSERT_EQ(write_records(37, {"wxyz"}), 0u);
    EXPECT_EQ(close_unit(37), 0);
    EXPECT_EQ(slurp("fixed.dat"), "abcdwxyz");
}

// Under the host a missing name is chosen in the host's file dialog; a
// cancelled dialog asks whether to end the program.
TEST_F(RecordsTest, MissingNameIsChosenInTheHostDialog) {
    static std::vector<std::string> calls;
    static int attempts;
    calls.clear();
    attempts = 0;
    HostOps ops{};
    ops.choose_file = [](char* buffer, int capacity, const char* title) {
        calls.push_back(std::string("choose ") + title + " " + std::to_string(capacity));
        if (attempts++ == 0) return -1;  // cancelled
        std::strcpy(buffer, "picked.dat");
        return 1;
    };
    ops.message_box = [](const char* text, const char* title, unsigned style) {
        calls.push_back(std::string("box ") + title + ": " + text + " " + std::to_string(style));
        return static_cast<int>(MB_ANSWER_NO);
    };
    for_register_host(&ops);
    for_set_command_line(1, nullptr);
    int r = open_unit(48, Keywords().text(KW_STATUS, "new"), SF_ERROR_BRANCH | SF_PROMPT_NAMES);
    for_register_host(nullptr);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(exists("picked.dat"));
    const unsigned style = MB_YESNO_BUTTONS | MB_DEFAULT_BUTTON2 | MB_ICON_EXCLAMATION | MB_TASK_MODAL;
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "choose Open: Select File for Unit 48 256",
                         "box File Open Error: A File Must be Selected\r\rTerminate Program? " + std::to_string(style),
                         "choose Open: Select File for Unit 48 256",
                     }));
}

}  // namespace
