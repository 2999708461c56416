// Prepared READ statements against the same statements made of a begin call
// and item calls: for each program (or list-directed input), item list and
// input text, both store the same bytes into the items, leave the unit at
// the same record, and return the same result; on units whose state the
// plan cannot know (a record left open by a non-advancing READ) as well.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH;

constexpr ItemShape kR4 = kReal4Item;
constexpr ItemShape kI4 = kInt4Item;

// The calculator's READs.
constexpr auto kTitle = format_program<"(18A4)">();
constexpr auto kTitleRead = prepare_read<kTitle, array_item(TYPE_REAL4, 4, 18)>();
constexpr auto kName = format_program<"(A20)">();
constexpr auto kNameRead = prepare_read<kName, chars_item(20)>();
constexpr auto kCellRead = prepare_list_read<kR4, kR4, kR4, kR4, kR4, kR4>();
constexpr auto kParameterRead = prepare_list_read<array_item(TYPE_INT4, 4, 7), kR4, kR4, kI4, kI4, kI4, kR4>();

// Programs with a plan: fields a comma ends, groups, repeat counts, ":",
// Q; and programs the walk must take: "/", positioning, BZ, P, reversion.
constexpr auto kNumbers = format_program<"(I4,F8.3,2(I3),:,I9)">();
constexpr auto kNumbersRead = prepare_read<kNumbers, kI4, kR4, kI4, kI4>();
constexpr auto kCount = format_program<"(A3,Q)">();
constexpr auto kCountRead = prepare_read<kCount, chars_item(3), kI4>();
constexpr auto kSlash = format_program<"(I3,/,I3)">();
constexpr auto kSlashRead = prepare_read<kSlash, kI4, kI4>();
constexpr auto kMove = format_program<"(T3,I2,TL2,I1)">();
constexpr auto kMoveRead = prepare_read<kMove, kI4, kI4>();
constexpr auto kBlanks = format_program<"(BZ,I4,BN,I4)">();
constexpr auto kBlanksRead = prepare_read<kBlanks, kI4, kI4>();
constexpr auto kScale = format_program<"(2P,F6.2)">();
constexpr auto kScaleRead = prepare_read<kScale, kR4>();
constexpr auto kRevert = format_program<"(2I3)">();
constexpr auto kRevertRead = prepare_read<kRevert, array_item(TYPE_INT4, 4, 3)>();
constexpr auto kMismatch = format_program<"(I4)">();
constexpr auto kMismatchRead = prepare_read<kMismatch, chars_item(4)>();

static_assert(kTitleRead.runs && kNameRead.runs && kNumbersRead.runs && kCountRead.runs && kMismatchRead.runs);
static_assert(!kSlashRead.runs && !kMoveRead.runs && !kBlanksRead.runs && !kScaleRead.runs && !kRevertRead.runs);

// The statement as begin and item calls: the first item with the begin
// call, one call per further item; a result that is not 0 takes the error
// branch.
template <const auto& P>
int called_read(int unit, std::uint32_t flags, const std::array<void*, P.item_count>& addresses) {
    const std::vector<Items> calls = stmt_test::item_calls(P.shapes, addresses.data());
    int result = P.list_directed ? list_read_begin(unit, flags, calls[0].l(), calls[0].a())
                                 : format_read_begin(unit, flags, P.program, 0, calls[0].l(), calls[0].a());
    for (std::size_t i = 1; i < calls.size() && result == 0; ++i)
        result = P.list_directed ? list_read_item(calls[i].l(), calls[i].a())
                                 : format_read_item(calls[i].l(), calls[i].a());
    return result;
}

struct Outcome {
    int result;
    std::string stored;  // the items' bytes after the statement
    std::string next;    // the record a further READ gets
};

class PreparedRead : public stmt_test::FileTest {
protected:
    static constexpr int kUnit = 45;

    // Runs the READ (prepared or as calls) on a file holding `text`, after a
    // non-advancing READ of one character when `record_open`.  `storage`
    // holds the items, set to a pattern first.
    template <const auto& P>
    Outcome run(bool prepared, const std::string& text, bool record_open, std::vector<char>& storage,
                const std::array<void*, P.item_count>& addresses) {
        const std::string path = dir + "/in.txt";
        put(path, text);
        used.push_back(kUnit);
        ::setenv(("FORT" + std::to_string(kUnit)).c_str(), path.c_str(), 1);
        for (std::size_t i = 0; i < storage.size(); ++i) storage[i] = static_cast<char>(0x5A ^ i);
        if (record_open) {
            char first;
            const char* format = "(A1)";
            // At the end of the file (an empty file) nothing stays open.
            const Items items = Items().chars(&first, 1).end();
            format_read_begin_adv(kUnit, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format), 4,
                                  "NO", 2, nullptr, 0, items.l(), items.a());
        }
        Outcome out;
        out.result = prepared ? prepared_read<P>(kUnit, kBranch, addresses) : called_read<P>(kUnit, kBranch, addresses);
        out.stored.assign(storage.begin(), storage.end());
        char next[16];
        const char* format = "(A16)";
        const Items next_items = Items().chars(next, 16).end();
        if (format_read_begin(kUnit, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format), 5,
                              next_items.l(), next_items.a()) == 0)
            out.next.assign(next, 16);
        close_unit(kUnit);
        return out;
    }

    // Both ways, each input text, with and without a record left open.
    template <const auto& P>
    void check(const std::string& label, std::vector<char>& storage, const std::array<void*, P.item_count>& a,
               const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
            for (const bool open : {false, true}) {
                const Outcome called = run<P>(false, text, open, storage, a);
                const Outcome prepared = run<P>(true, text, open, storage, a);
                const std::string where = label + " [" + unit_test::visible(text) + "]" + (open ? ", record open" : "");
                EXPECT_EQ(unit_test::visible(prepared.stored), unit_test::visible(called.stored)) << where;
                EXPECT_EQ(prepared.result, called.result) << where;
                EXPECT_EQ(prepared.next, called.next) << where;
            }
        }
    }
};

}  // namespace

// The calculator's READs: the entry name and the title on long, short and
// empty records and at the end of the file; the cell and the parameters
// over one or several records, with repeat counts, nulls, a slash, and
// values that do not convert.
TEST_F(PreparedRead, CalculatorReads) {
    std::vector<char> name(20), title(72);
    check<kNameRead>("entry name", name, {name.data()},
                     {"quartz\nnext\n", "a name longer than twenty characters\n", "\nnext\n", ""});
    check<kTitleRead>("title", title, {title.data()},
                      {"alpha-quartz SiO2, trigonal P3(2)21, Cu K-alpha1\n2\n", std::string(80, 't') + "\n",
                       "tab\there, commas, too\n", "\n", "no line end"});
    std::vector<char> cell(24);
    std::array<void*, 6> c{};
    for (int i = 0; i < 6; ++i) c[std::size_t(i)] = cell.data() + 4 * i;
    check<kCellRead>("cell", cell, c,
                     {"4.9134 4.9134 5.4052 90.0 90.0 120.0\nnext\n", "3*4.5,,3*90\n", "4 4\n4\n90 90 90 rest\nn\n",
                      "1,2/\nnext\n", "5.43x 1 1 1 1 1\n", "1 2 3\n", "'text' 1 1 1 1 1\n"});
    std::vector<char> parameters(52);
    std::array<void*, 7> p{};
    for (int i = 0; i < 7; ++i) p[std::size_t(i)] = parameters.data() + (i == 0 ? 0 : 24 + 4 * i);
    check<kParameterRead>("parameters", parameters, p,
                          {"1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n0\n", "7*0 1 2 3*8 .7\n",
                           "1 2 3 4 5 6 7 8.5 9 2147483648 1 1 1\n", "1 2 3 4 5 6 7 1 2 3.9 -4.2 5 1e0\n"});
}

// Programs beyond the calculator's: fields ended by commas, ":" and Q with
// a plan; "/", positioning, blank and scale modes and reversion through the
// walk; a type the descriptor does not take (61).
TEST_F(PreparedRead, OtherPrograms) {
    std::vector<char> four(16), two(8), one(4), q(8), three(12);
    const auto at = [](std::vector<char>& v, int i) { return static_cast<void*>(v.data() + 4 * i); };
    check<kNumbersRead>("numbers", four, {at(four, 0), at(four, 1), at(four, 2), at(four, 3)},
                        {"  12  -3.125  4  5\n", "7,1.5,8,9,10\n", "12\n", "x\n"});
    check<kCountRead>("count", q, {q.data(), at(q, 1)}, {"abcdef\n", "ab\n"});
    check<kSlashRead>("slash", two, {at(two, 0), at(two, 1)}, {" 12\n 34\n", " 12\n"});
    check<kMoveRead>("positions", two, {at(two, 0), at(two, 1)}, {"  4567\n"});
    check<kBlanksRead>("blank modes", two, {at(two, 0), at(two, 1)}, {"1 2 3 4 \n"});
    check<kScaleRead>("scale", one, {one.data()}, {"  1234\n", "1.5e1 \n"});
    check<kRevertRead>("reversion", three, {three.data()}, {"  1  2\n  3\n", "  1  2\n"});
    check<kMismatchRead>("mismatch", one, {one.data()}, {"1234\n"});
}
