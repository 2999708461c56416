// Prepared WRITE statements against the same statements made of a begin
// call and item calls: for each format, item list and values, both write
// the same bytes, return the same result and report the same diagnostics,
// on plain units and on units whose state the plan cannot know when it is
// compiled (a record left open, records too short for the plan).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "for_fmt_builder.h"
#include "for_lub.h"
#include "for_prepared.h"
#include "for_stmt.h"
#include "forrtl/stmt_files.h"
#include "forrtl/stmt_items.h"
#include "forrtl/unit_fixture.h"
#include "for_open_params.h"

using namespace forrtl;
using stmt_test::Items;

namespace {

constexpr std::uint32_t kFlags = kCalculatorFlags;
constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH;

constexpr ItemShape kR4 = kReal4Item;
constexpr ItemShape kI4 = kInt4Item;
constexpr ItemShape kR8{TYPE_REAL8, 3, 8, 1};
constexpr ItemShape kC8{28, 3, 8, 1};  // complex with 4-byte parts
constexpr ItemShape kL4{TYPE_LOGICAL4, 3, 4, 1};

// The calculator's records.
constexpr auto kRow = format_program<"2(3I4,F10.5,TR3,F6.2,TR1,':')">();
constexpr auto kRowWrite = prepare_write<kRow, kI4, kI4, kI4, kR4, kR4, kI4, kI4, kI4, kR4, kR4>();
constexpr auto kHeader = format_program<
    "(TR1,'LOXNAR RESULTS',/,' DATE : ',A4,'/',A2,'/',A2,TR10,'STARTING TIME :  ',A2,'h',A2,'mn',A2,'s')">();
constexpr auto kHeaderWrite =
    prepare_write<kHeader, chars_item(4), chars_item(2), chars_item(2), chars_item(2), chars_item(2), chars_item(2)>();
constexpr auto kTitle = format_program<"(18A4)">();
constexpr auto kTitleWrite = prepare_write<kTitle, array_item(TYPE_REAL4, 4, 18)>();
constexpr auto kEcho = format_program<
    "(TR1,'D MINIMUM =',F6.2,TR10,'D MAXIMUM =',F6.2,/,TR1,' HMAX =',I4,TR10,'KMAX =',I4,TR10,' LMAX =',I4,/,"
    "TR1,'LAMBDA =',F8.4,/)">();
constexpr auto kEchoWrite = prepare_write<kEcho, kR4, kR4, kI4, kI4, kI4, kR4>();
constexpr auto kPrompt = format_program<"('  entry .dat file (no extension) ?\?',$)">();
constexpr auto kPromptWrite = prepare_write<kPrompt>();

// Positions that move back, ":" and modes, reversion over several records,
// descriptors without width, types the plan leaves to the editing.
constexpr auto kMoves = format_program<"(I4,2X,'lit',T2,I2,TL3,'ab',TR4,F5.1,:,'never')">();
constexpr auto kMovesWrite = prepare_write<kMoves, kI4, kI4, kR4>();
constexpr auto kModes = format_program<"(SP,F8.3,I5.3,1P,F10.2,E12.4,SS,G12.5,0P,F6.1,L3,D14.5)">();
constexpr auto kModesWrite = prepare_write<kModes, kR4, kI4, kR4, kR4, kR8, kR4, kL4, kR8>();
constexpr auto kRevert = format_program<"(I3,2(I2,:,'-'),/)">();
constexpr auto kRevertWrite = prepare_write<kRevert, array_item(TYPE_INT4, 4, 8)>();
constexpr auto kNoWidth = format_program<"(A,1X,F,1X,I,1X,G,1X,A)">();
constexpr auto kNoWidthWrite = prepare_write<kNoWidth, chars_item(5), kR4, kI4, kR8, kC8>();
constexpr auto kLong = format_program<"(A150,'|',T140,I4)">();
constexpr auto kLongWrite = prepare_write<kLong, chars_item(150), kI4>();

// Failures the walk meets at compile time, and one the editing meets.
constexpr auto kOnlyText = format_program<"('only text')">();
constexpr auto kOnlyTextWrite = prepare_write<kOnlyText, kI4>();
constexpr auto kMismatch = format_program<"(I4,'/',I4)">();
constexpr auto kMismatchWrite = prepare_write<kMismatch, kI4, kR4>();

static_assert(kRowWrite.runs && kHeaderWrite.runs && kTitleWrite.runs && kEchoWrite.runs && kPromptWrite.runs);
static_assert(kMovesWrite.runs && kModesWrite.runs && kRevertWrite.runs && kNoWidthWrite.runs);
static_assert(!kOnlyTextWrite.runs && kMismatchWrite.runs);

// The statement as begin and item calls: the first item with the begin
// call, one call per further item; a result that is not 0 takes the error
// branch.
template <const auto& P>
int called_write(int unit, std::uint32_t flags, const std::array<const void*, P.item_count>& addresses) {
    const std::vector<Items> calls = stmt_test::item_calls(P.shapes, addresses.data());
    int result = format_write_begin(unit, flags, P.program, 0, calls[0].l(), calls[0].a());
    for (std::size_t i = 1; i < calls.size() && result == 0; ++i) result = format_write_item(calls[i].l(), calls[i].a());
    return result;
}

// What a unit is like when the statement runs.
enum UnitState { PLAIN, RECORD_OPEN, SHORT_RECORDS };
const char* const kStateName[] = {"plain unit", "record left open", "records of 20 characters"};

struct Outcome {
    int result;
    std::string bytes, err;
};

class PreparedWrite : public stmt_test::FileTest {
protected:
    static constexpr int kUnit = 44;

    template <const auto& P>
    Outcome run(bool prepared, UnitState setup, std::uint32_t flags, const std::array<const void*, P.item_count>& a) {
        const std::string path = dir + "/out.txt";
        std::remove(path.c_str());
        used.push_back(kUnit);
        if (setup == SHORT_RECORDS) {
            using unit_test::Keywords;
            EXPECT_EQ(unit_test::open_unit(kUnit, Keywords().text(KW_FILE, path).inline_int(KW_RECL, 20)), 0);
        } else {
            ::setenv(("FORT" + std::to_string(kUnit)).c_str(), path.c_str(), 1);
        }
        if (setup == RECORD_OPEN) {
            const char* format = "(A)";
            EXPECT_EQ(format_write_begin_adv(kUnit, kFlags | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format),
                                             3, "NO", 2, Items().chars("open:", 5).end().l(),
                                             Items().chars("open:", 5).a()),
                      0);
        }
        Outcome out;
        testing::internal::CaptureStderr();
        out.result = prepared ? prepared_write<P>(kUnit, flags, a) : called_write<P>(kUnit, flags, a);
        out.err = testing::internal::GetCapturedStderr();
        close_unit(kUnit);
        out.bytes = bytes(path);
        return out;
    }

    // Both ways, on every kind of unit.  Without an error branch only the
    // units where nothing severe can happen (a severe error ends the
    // program).
    template <const auto& P>
    void check(const std::string& label, const std::array<const void*, P.item_count>& a,
               std::uint32_t flags = kBranch) {
        for (UnitState setup : {PLAIN, RECORD_OPEN, SHORT_RECORDS}) {
            if (!(flags & SF_ERROR_BRANCH) && setup == SHORT_RECORDS) continue;
            const Outcome called = run<P>(false, setup, flags, a);
            const Outcome prepared = run<P>(true, setup, flags, a);
            const std::string where = label + ", " + kStateName[setup];
            EXPECT_EQ(unit_test::visible(prepared.bytes), unit_test::visible(called.bytes)) << where;
            EXPECT_EQ(prepared.result, called.result) << where;
            EXPECT_EQ(prepared.err, called.err) << where;
        }
    }
};

}  // namespace

// The plane table's rows: ordinary planes, fields too narrow (asterisks and
// 63), a missing angle, signed zeros and values on rounding edges.
TEST_F(PreparedWrite, PlaneRows) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        const char* label;
        std::int32_t h[2], k[2], l[2];
        float d[2], t[2];
    } rows[] = {
        {"planes", {1, 3}, {0, -2}, {-1, 7}, {3.12345f, 0.74278f}, {28.56f, 131.5f}},
        {"narrow integer fields", {10000, -1000}, {0, 9999}, {-999, 0}, {1.0f, 2.0f}, {3.0f, 4.0f}},
        {"narrow real fields", {1, 2}, {0, 0}, {0, 0}, {123456.0f, -99999.9f}, {1000.0f, -100.0f}},
        {"no angle", {2, 0}, {3, 0}, {-4, 0}, {0.74278f, 0.0f}, {nan, 0.0f}},
        {"signed zeros", {0, 0}, {0, 0}, {0, 0}, {-0.0f, -0.000004f}, {-0.004f, -0.005f}},
        {"rounding edges", {1, 1}, {1, 1}, {1, 1}, {2.000005f, 0.999995f}, {99.995f, 0.125f}},
        {"huge and denormal", {0, 0}, {0, 0}, {0, 0}, {4.3e9f, 1e-40f}, {3e38f, -1e-45f}},
    };
    for (const Row& row : rows) {
        check<kRowWrite>(row.label, {&row.h[0], &row.k[0], &row.l[0], &row.d[0], &row.t[0], &row.h[1], &row.k[1],
                                     &row.l[1], &row.d[1], &row.t[1]});
        check<kRowWrite>(std::string(row.label) + " without error branch",
                         {&row.h[0], &row.k[0], &row.l[0], &row.d[0], &row.t[0], &row.h[1], &row.k[1], &row.l[1],
                          &row.d[1], &row.t[1]},
                         kFlags);
    }
}

// A statement run again on the same values (the plane table's row goes to
// two units) writes its record again, overflowed fields and their report
// included; another value or another flag word makes a new record.
TEST_F(PreparedWrite, SameValuesAgain) {
    std::int32_t h[2] = {1, 10000}, k[2] = {2, 0}, l[2] = {-3, 0};
    float d[2] = {3.5f, 1.25f}, t[2] = {45.0f, 12.5f};
    const std::array<const void*, 10> row{&h[0], &k[0], &l[0], &d[0], &t[0], &h[1], &k[1], &l[1], &d[1], &t[1]};
    std::vector<Outcome> prepared, called;
    auto both = [&](std::uint32_t flags) {
        prepared.push_back(run<kRowWrite>(true, PLAIN, flags, row));
        prepared.push_back(run<kRowWrite>(true, PLAIN, flags, row));
        called.push_back(run<kRowWrite>(false, PLAIN, flags, row));
        called.push_back(run<kRowWrite>(false, PLAIN, flags, row));
    };
    both(kFlags);
    both(kBranch);
    h[1] = 5;
    both(kBranch);
    d[0] = 3.25f;
    both(kBranch);
    ASSERT_EQ(prepared.size(), called.size());
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        EXPECT_EQ(prepared[i].bytes, called[i].bytes) << "statement " << i;
        EXPECT_EQ(prepared[i].result, called[i].result) << "statement " << i;
        EXPECT_EQ(prepared[i].err, called[i].err) << "statement " << i;
    }
    EXPECT_NE(prepared[0].err.find("output conversion error"), std::string::npos);
    EXPECT_NE(prepared[1].err.find("output conversion error"), std::string::npos);
    EXPECT_NE(prepared[5].bytes, prepared[7].bytes);
}

// The calculator's other records: stamps, the title as 18 reals, the
// parameter echo with an overflowing window, the prompt's "$".
TEST_F(PreparedWrite, CalculatorRecords) {
    const char stamp[] = "20261210143005";
    check<kHeaderWrite>("start header", {stamp, stamp + 4, stamp + 6, stamp + 8, stamp + 10, stamp + 12});
    float title[18];
    std::memcpy(title, "alpha-quartz SiO2, trigonal P3(2)21, Cu K-alpha1                        ", sizeof title);
    check<kTitleWrite>("title", {title});
    const float dmin = 0.5f, dmax = 1000.0f, lambda = 1.5406f;
    const std::int32_t hmax = 10, kmax = -1, lmax = 10000;
    check<kEchoWrite>("parameter echo", {&dmin, &dmax, &hmax, &kmax, &lmax, &lambda}, kFlags);
    check<kPromptWrite>("prompt", {});
}

// Formats beyond the calculator's: positions that move back over written
// text, ":" with items left or not, sign and scale modes, reversion, default
// widths, a complex item, and records longer than the unit's buffer.
TEST_F(PreparedWrite, OtherFormats) {
    const std::int32_t i1 = 12345, i2 = -7;
    const float x = 3.25f, y = -0.0625f, z = 12345.678f;
    const double wide = -1.0 / 3.0, tiny = 1e-300;
    const std::int32_t truth = 1;
    check<kMovesWrite>("moves", {&i1, &i2, &x});
    check<kModesWrite>("modes", {&x, &i2, &y, &z, &wide, &y, &truth, &tiny});
    const std::int32_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    check<kRevertWrite>("reversion", {eight});
    const float complex_value[2] = {1.5f, -2.25f};
    check<kNoWidthWrite>("default widths", {"fives", &x, &i1, &wide, complex_value});
    const std::string long_text(150, 'x');
    check<kLongWrite>("long record", {long_text.data(), &i1});
}

// A walk that fails (60) and an edit that fails (61) end the statement as
// the item calls do.
TEST_F(PreparedWrite, Failures) {
    const std::int32_t n = 5;
    const float x = 1.0f;
    check<kOnlyTextWrite>("only text", {&n});
    check<kMismatchWrite>("mismatch after a record", {&n, &x});
}
