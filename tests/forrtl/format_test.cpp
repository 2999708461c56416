#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "for_fmt_builder.h"
#include "for_format.h"
#include "for_wseq_walk.h"

using namespace forrtl;

namespace {

// ---------------------------------------------------------------------------
// A trace of the walk: each descriptor handed back, each positioning move,
// and the way the statement ended.
//   I4 F10.5 A   data descriptors, each paired with one item
//   [text]       a literal
//   TR3 3X T5    positioning through the positioner
//   / 2/ $ :     record ends, no-terminator mark, colon passed with items left
//   |            format end with items left: new record, reversion
//   <end> <:> <I4>   after the last item: stopped at the format end, a colon,
//                    or the next data descriptor
//   error N      the walk failed with message N

std::string descriptor_name(const FormatState& s) {
    struct Name {
        std::uint8_t category;
        const char* letters;
        int operands;  // 0 none, 1 w, 2 w.d, 3 w.dEe
    };
    static const Name names[] = {
        {FC_A0, "A", 0},   {FC_D0, "D", 0},    {FC_E0, "E", 0},    {FC_F0, "F", 0},
        {FC_G0, "G", 0},   {FC_I0, "I", 0},    {FC_L0, "L", 0},    {FC_O0, "O", 0},
        {FC_Z0, "Z", 0},   {FC_A, "A", 1},     {FC_D, "D", 2},     {FC_E, "E", 2},
        {FC_EE, "E", 3},   {FC_F, "F", 2},     {FC_G, "G", 2},     {FC_GE, "G", 3},
        {FC_I, "I", 1},    {FC_IM, "I", 2},    {FC_L, "L", 1},     {FC_O, "O", 1},
        {FC_OM, "O", 2},   {FC_Z, "Z", 1},     {FC_ZM, "Z", 2},    {FC_B0, "B", 0},
        {FC_B, "B", 1},    {FC_BM, "B", 2},    {FC_EN0, "EN", 0},  {FC_EN, "EN", 2},
        {FC_ENE, "EN", 3}, {FC_ES0, "ES", 0},  {FC_ES, "ES", 2},   {FC_ESE, "ES", 3},
    };
    // Iw and Iw.1 are the same edit: m is shown only when it is not 1.
    const bool with_m = s.category == FC_IM || s.category == FC_OM || s.category == FC_ZM ||
                        s.category == FC_BM;
    for (const Name& n : names) {
        if (n.category != s.category) continue;
        std::string text = n.letters;
        if (n.operands >= 1) text += std::to_string(s.w);
        if (n.operands >= 2 && !(with_m && s.d == 1)) text += "." + std::to_string(s.d);
        if (n.operands >= 3) text += "E" + std::to_string(s.e);
        return text;
    }
    return "?" + std::to_string(s.category);
}

bool is_data(std::uint8_t category) {
    return category >= FC_A0 && category <= FC_ESE && category != FC_LITERAL;
}

struct Walk {
    FormatState state;
    std::string trace;

    void put(const std::string& token) {
        if (!trace.empty()) trace += ' ';
        trace += token;
    }
    static void move(void* context, std::uint8_t category, std::int32_t n) {
        auto* walk = static_cast<Walk*>(context);
        const std::string count = std::to_string(n);
        switch (category) {
        case FC_X: walk->put(count + "X"); break;
        case FC_T: walk->put("T" + count); break;
        case FC_TL: walk->put("TL" + count); break;
        case FC_TR: walk->put("TR" + count); break;
        default: walk->put("move?" + std::to_string(category)); break;
        }
    }
    void control(std::uint8_t category) {
        switch (category) {
        case FC_LITERAL:
            put("[" + std::string(reinterpret_cast<const char*>(state.literal), state.literal_length) + "]");
            break;
        case FC_SLASH: put(state.repeat == 1 ? "/" : std::to_string(state.repeat) + "/"); break;
        case FC_DOLLAR: put("$"); break;
        case FC_COLON: put(":"); break;
        case FC_Q: put("Q"); break;
        default: put("?" + std::to_string(category)); break;
        }
    }
};

// Pairs `items` output items with the walk of `program`, the way the
// formatted WRITE driver does, and returns the trace.
std::string pair_items(const std::uint8_t* program, int items, const FormatExpression* table = nullptr,
                       FormatState* final_state = nullptr) {
    Walk walk;
    FormatState& s = walk.state;
    const FormatPositioner positioner{&Walk::move, &walk, nullptr};
    format_state_begin(s, program, table);
    bool current = false;  // a data descriptor is in hand
    auto finish = [&] {
        if (final_state) *final_state = s;
        return walk.trace;
    };
    for (int i = 0; i < items; ++i) {
        s.item_waiting = true;
        if (current && s.repeat >= 2) {
            --s.repeat;
            walk.put(descriptor_name(s));
            continue;
        }
        for (;;) {
            const FormatStep step = next_descriptor(s, &positioner);
            if (step.status) {
                walk.put("error " + std::to_string(status_number(step.status)));
                return finish();
            }
            if (step.category == FC_FORMAT_END) {
                if (!s.data_met) {
                    walk.put("error 60");
                    return finish();
                }
                walk.put("|");
                continue;
            }
            if (is_data(step.category)) {
                walk.put(descriptor_name(s));
                current = true;
                break;
            }
            walk.control(step.category);
        }
    }
    // After the last item: on to the next data descriptor, ":" or the end.
    s.item_waiting = false;
    if (current && s.repeat >= 2) {
        walk.put("<" + descriptor_name(s) + ">");
        return finish();
    }
    for (;;) {
        const FormatStep step = next_descriptor(s, &positioner);
        if (step.status) {
            walk.put("error " + std::to_string(status_number(step.status)));
            return finish();
        }
        if (step.category == FC_FORMAT_END) {
            walk.put("<end>");
            return finish();
        }
        if (step.category == FC_COLON) {
            walk.put("<:>");
            return finish();
        }
        if (is_data(step.category)) {
            walk.put("<" + descriptor_name(s) + ">");
            return finish();
        }
        walk.control(step.category);
    }
}

// A run-time compiled program, released at the end of the scope.
struct Compiled {
    std::uint8_t* program = nullptr;
    Status status = 0;
    std::string report;  // what went to stderr
    explicit Compiled(const std::string& text) {
        testing::internal::CaptureStderr();
        status = compile_format(text.data(), static_cast<std::int32_t>(text.size()), &program);
        report = testing::internal::GetCapturedStderr();
    }
    ~Compiled() { release_format(program); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
};

std::vector<std::uint8_t> long_item(std::uint8_t opcode, std::int32_t repeat, std::int32_t w,
                                    std::uint8_t d = 0, std::uint8_t e = 0) {
    auto r = static_cast<std::uint32_t>(repeat), v = static_cast<std::uint32_t>(w);
    return {opcode,
            0,
            e,
            d,
            std::uint8_t(r),
            std::uint8_t(r >> 8),
            std::uint8_t(r >> 16),
            std::uint8_t(r >> 24),
            std::uint8_t(v),
            std::uint8_t(v >> 8),
            std::uint8_t(v >> 16),
            std::uint8_t(v >> 24)};
}

std::vector<std::uint8_t> literal_item(const std::string& text) {
    std::vector<std::uint8_t> item{28, 0, std::uint8_t(text.size()), std::uint8_t(text.size() >> 8)};
    for (char c : text) item.push_back(static_cast<std::uint8_t>(c));
    while (item.size() % 4) item.push_back(0);
    return item;
}

std::vector<std::uint8_t> join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::uint8_t> bytes_of(const std::uint8_t* program, std::size_t size) {
    return std::vector<std::uint8_t>(program, program + size);
}

// The prepared programs used below.
constexpr auto kPlaneRow = format_program<"2(3I4,F10.5,TR3,F6.2,TR1,':')">();
static_assert(kPlaneRow == format_program<"(2(3I4,F10.5,TR3,F6.2,TR1,':'))">());
constexpr auto kPlaneCount = format_program<"(TR1,'NUMBER OF CALCULATED PLANES =',I4,/)">();

}  // namespace

// ---------------------------------------------------------------------------
// Opcode table

TEST(OpcodeTable, LayoutSizeAndCategory) {
    struct Row {
        int opcode;
        std::uint8_t layout, size, category;
    };
    const Row rows[] = {
        {0, LAYOUT_LONG, 12, FC_INVALID},       {1, LAYOUT_LONG, 12, FC_FORMAT_BEGIN},
        {28, LAYOUT_LITERAL, 4, FC_LITERAL},    {51, LAYOUT_LONG, 12, FC_ESE},
        {52, LAYOUT_NONE, 4, FC_INVALID},       {53, LAYOUT_NONE, 4, FC_INVALID},
        {54, LAYOUT_NONE, 4, FC_FORMAT_BEGIN},  {56, LAYOUT_REPEAT, 4, FC_GROUP_BEGIN},
        {62, LAYOUT_NONE, 4, FC_S},             {63, LAYOUT_WIDTH, 4, FC_P},
        {64, LAYOUT_REPEAT, 4, FC_X},           {67, LAYOUT_WIDTH, 4, FC_TR},
        {71, LAYOUT_REPEAT, 4, FC_SLASH},       {80, LAYOUT_REPEAT, 4, FC_Z0},
        {81, LAYOUT_REPEAT_W, 4, FC_A},         {84, LAYOUT_REPEAT_WD, 4, FC_F},
        {85, LAYOUT_REPEAT_WD, 4, FC_G},        {86, LAYOUT_REPEAT_W, 4, FC_I},
        {87, LAYOUT_REPEAT_WD, 4, FC_IM},       {89, LAYOUT_REPEAT_W, 4, FC_O},
        {93, LAYOUT_REPEAT, 4, FC_B0},          {95, LAYOUT_REPEAT_WD, 4, FC_BM},
    };
    for (const Row& row : rows) {
        const FmtOpcodeInfo& info = kFmtOpcodes[row.opcode];
        EXPECT_EQ(info.layout, row.layout) << "opcode " << row.opcode;
        EXPECT_EQ(info.size, row.size) << "opcode " << row.opcode;
        EXPECT_EQ(info.category, row.category) << "opcode " << row.opcode;
    }
    for (int opcode = 0; opcode <= 51; ++opcode) {
        if (opcode == 28) continue;
        EXPECT_EQ(kFmtOpcodes[opcode].category, opcode) << "opcode " << opcode;
        EXPECT_EQ(kFmtOpcodes[opcode].layout, LAYOUT_LONG) << "opcode " << opcode;
    }
}

// ---------------------------------------------------------------------------
// The compile-time builder

// A text the builder rejects fails the build where format_program is used;
// the same check is visible to static_assert.
static_assert(format_text_valid<"2(3I4,F10.5,TR3,F6.2,TR1,':')">());
static_assert(format_text_valid<"(2(3I4,F10.5,TR3,F6.2,TR1,':'))">());
static_assert(!format_text_valid<"(F6)">());
static_assert(!format_text_valid<"(((((((((I3)))))))))">());
static_assert(format_text_valid<"((((((((I3))))))))">());
static_assert(!format_text_valid<"('open">());
static_assert(!format_text_valid<"(I3) I4">());
static_assert(!format_text_valid<"I3)">());
static_assert(format_program<"(I3)">().size() == 20);
static_assert(format_program<"I3">() == format_program<" (I3) ">());

TEST(FormatBuilder, PlaneRowProgramBytes) {
    const auto expected = join({
        {54, 0, 0, 0},
        {56, 0, 2, 0},
        long_item(36, 3, 4),
        long_item(33, 1, 10, 5),
        long_item(14, 1, 3),
        long_item(33, 1, 6, 2),
        long_item(14, 1, 1),
        literal_item(":"),
        {57, 0, 0, 0},
        {55, 0, 0, 0},
    });
    EXPECT_EQ(bytes_of(kPlaneRow.data(), kPlaneRow.size()), expected);
}

TEST(FormatBuilder, ShortSlashDollarAndMForms) {
    constexpr auto program = format_program<"(' ENTRY ? ',$,2/,I5.3,O6,Z2,B8,i2,3(A),1X,2HOK)">();
    const auto expected = join({
        {54, 0, 0, 0},
        literal_item(" ENTRY ? "),
        {69, 0, 0, 0},
        {71, 0, 2, 0},
        long_item(37, 1, 5, 3),
        long_item(39, 1, 6),
        long_item(41, 1, 2),
        long_item(44, 1, 8),
        long_item(36, 1, 2),
        {56, 0, 3, 0},
        long_item(19, 1, 0),
        {57, 0, 0, 0},
        long_item(11, 1, 0),
        literal_item("OK"),
        {55, 0, 0, 0},
    });
    EXPECT_EQ(bytes_of(program.data(), program.size()), expected);
}

// ---------------------------------------------------------------------------
// Walking: pairing with output items

TEST(FormatWalk, PairingTraces) {
    const std::string pass = "I4 I4 I4 F10.5 TR3 F6.2 TR1 [:]";
    constexpr auto kLiteralOnly = format_program<"('TITLE',1X,'MORE')">();
    constexpr auto kNested = format_program<"(I1,2(I2,3(I3)),I4)">();
    constexpr auto kNoGroup = format_program<"(I2,'x')">();
    constexpr auto kColon = format_program<"(I2,:,' more')">();
    constexpr auto kPrompt = format_program<"('PROMPT',$)">();
    constexpr auto kMoves = format_program<"(T5,I2,TL3,I1,3X,I1,0X)">();
    constexpr auto kSlashes = format_program<"(I2,3/)">();
    constexpr auto kEmpty = format_program<"()">();
    constexpr auto kEight = format_program<"((((((((I3))))))))">();
    struct Row {
        const char* label;
        const std::uint8_t* program;
        const char* text;  // the same format compiled at run time
        int items;
        std::string trace;
    };
    const Row rows[] = {
        {"row 10 items", kPlaneRow.data(), "(2(3I4,F10.5,TR3,F6.2,TR1,':'))", 10, pass + " " + pass + " <end>"},
        {"row 20 items", kPlaneRow.data(), "(2(3I4,F10.5,TR3,F6.2,TR1,':'))", 20,
         pass + " " + pass + " | " + pass + " " + pass + " <end>"},
        {"row 11 items", kPlaneRow.data(), "(2(3I4,F10.5,TR3,F6.2,TR1,':'))", 11,
         pass + " " + pass + " | I4 <I4>"},
        {"count record", kPlaneCount.data(), "(TR1,'NUMBER OF CALCULATED PLANES =',I4,/)", 1,
         "TR1 [NUMBER OF CALCULATED PLANES =] I4 / <end>"},
        {"literals only", kLiteralOnly.data(), "('TITLE',1X,'MORE')", 1, "[TITLE] 1X [MORE] error 60"},
        {"literals only, no item", kLiteralOnly.data(), "('TITLE',1X,'MORE')", 0, "[TITLE] 1X [MORE] <end>"},
        {"nested reversion", kNested.data(), "(I1,2(I2,3(I3)),I4)", 12,
         "I1 I2 I3 I3 I3 I2 I3 I3 I3 I4 | I2 I3 <I3>"},
        {"reversion to start", kNoGroup.data(), "(I2,'x')", 3, "I2 [x] | I2 [x] | I2 [x] <end>"},
        {"colon ends", kColon.data(), "(I2,:,' more')", 1, "I2 <:>"},
        {"colon passed", kColon.data(), "(I2,:,' more')", 2, "I2 : [ more] | I2 <:>"},
        {"dollar", kPrompt.data(), "('PROMPT',$)", 0, "[PROMPT] $ <end>"},
        {"moves", kMoves.data(), "(T5,I2,TL3,I1,3X,I1,0X)", 3, "T5 I2 TL3 I1 3X I1 0X <end>"},
        {"slash count", kSlashes.data(), "(I2,3/)", 1, "I2 3/ <end>"},
        {"empty program", kEmpty.data(), "()", 1, "error 60"},
        {"empty program, no item", kEmpty.data(), "()", 0, "<end>"},
        {"eight levels", kEight.data(), "((((((((I3))))))))", 2, "I3 | I3 <end>"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(pair_items(row.program, row.items), row.trace) << row.label << " (prepared)";
        Compiled compiled(row.text);
        ASSERT_EQ(compiled.status, 0u) << row.label;
        EXPECT_EQ(pair_items(compiled.program, row.items), row.trace) << row.label << " (compiled)";
    }
}

TEST(FormatWalk, EmptyProgramFlag) {
    constexpr auto kEmpty = format_program<"()">();
    FormatState state;
    pair_items(kEmpty.data(), 1, nullptr, &state);
    EXPECT_TRUE(state.empty_program);
    pair_items(kPlaneRow.data(), 1, nullptr, &state);
    EXPECT_FALSE(state.empty_program);
}

TEST(FormatWalk, ShortItemsAndModes) {
    // Short items of every class, decoded by hand: 2I5, F8.3, -2P, 3X, I6.2,
    // A, 2/, and the sign and blank modes.
    const std::vector<std::uint8_t> program = {
        54, 0, 0, 0,     60, 0, 0, 0,    59, 0, 0, 0,  86, 2, 5, 0,  84, 1, 8, 3,
        63, 0, 0xFE, 0,  64, 0, 3, 0,    87, 1, 6, 2,  72, 0, 1, 0,  71, 0, 2, 0,
        55, 0, 0, 0,
    };
    FormatState state;
    EXPECT_EQ(pair_items(program.data(), 5, nullptr, &state), "I5 I5 F8.3 3X I6.2 A 2/ <end>");
    EXPECT_EQ(state.scale, -2);
    EXPECT_EQ(state.sign, SIGN_SP);
    EXPECT_EQ(state.blank, BLANK_BZ);

    const std::vector<std::uint8_t> modes = join(
        {long_item(1, 1, 0), long_item(8, 1, 0), long_item(5, 1, 0), long_item(10, 1, 3),
         long_item(9, 1, 0), long_item(36, 1, 2), long_item(2, 1, 0)});
    EXPECT_EQ(pair_items(modes.data(), 1, nullptr, &state), "I2 <end>");
    EXPECT_EQ(state.scale, 3);
    EXPECT_EQ(state.sign, SIGN_S);
    EXPECT_EQ(state.blank, BLANK_BN);
}

// I, L, O, Z and B forms without m get m = 1; a written m is kept.
TEST(FormatWalk, DefaultM) {
    struct Row {
        std::vector<std::uint8_t> item;
        int m;
    };
    const Row rows[] = {
        {{77, 0, 1, 0}, 1},       {{78, 0, 1, 0}, 1},       {{79, 0, 1, 0}, 1}, {{80, 0, 1, 0}, 1},
        {{86, 1, 4, 0}, 1},       {{89, 1, 4, 0}, 1},       {{91, 1, 4, 0}, 1}, {{93, 0, 1, 0}, 1},
        {{94, 1, 4, 0}, 1},       {long_item(36, 1, 4, 7), 1}, {{87, 1, 4, 3}, 3},
        {long_item(40, 1, 4, 2), 2}, {{84, 1, 8, 3}, 3},    {long_item(29, 1, 4), 0},
    };
    for (const Row& row : rows) {
        const auto program = join({{54, 0, 0, 0}, row.item, {55, 0, 0, 0}});
        FormatState state;
        format_state_begin(state, program.data());
        const FormatStep step = next_descriptor(state, nullptr);
        ASSERT_EQ(step.status, 0u) << "opcode " << int(row.item[0]);
        EXPECT_EQ(state.d, row.m) << "opcode " << int(row.item[0]);
        EXPECT_TRUE(state.data_met) << "opcode " << int(row.item[0]);
    }
}

TEST(FormatWalk, InvalidPrograms) {
    struct Row {
        const char* label;
        std::vector<std::uint8_t> program;
    };
    const Row rows[] = {
        {"opcode 52", {54, 0, 0, 0, 52, 0, 0, 0, 55, 0, 0, 0}},
        {"opcode 53", {54, 0, 0, 0, 53, 0, 0, 0, 55, 0, 0, 0}},
        {"opcode 0", join({{54, 0, 0, 0}, long_item(0, 1, 0), {55, 0, 0, 0}})},
        {"opcode 96", {54, 0, 0, 0, 96, 0, 0, 0, 55, 0, 0, 0}},
        {"group end alone", {54, 0, 0, 0, 57, 0, 0, 0, 55, 0, 0, 0}},
        {"nine open groups", {54, 0, 0, 0, 56, 0, 1, 0, 56, 0, 1, 0, 56, 0, 1, 0, 56, 0, 1, 0, 56, 0, 1, 0,
                              56, 0, 1, 0, 56, 0, 1, 0, 56, 0, 1, 0, 56, 0, 1, 0}},
    };
    for (const Row& row : rows) EXPECT_EQ(pair_items(row.program.data(), 1), "error 62") << row.label;
}

// A group count of 0 runs the group once instead of wrapping the count.
TEST(FormatWalk, GroupCountZeroRunsOnce) {
    const std::vector<std::uint8_t> program = join(
        {{54, 0, 0, 0, 56, 0, 0, 0}, long_item(36, 1, 2), {57, 0, 0, 0, 55, 0, 0, 0}});
    EXPECT_EQ(pair_items(program.data(), 2), "I2 | I2 <end>");
}

// A group that holds no data descriptor, literal, positioning or slash
// does nothing however often it repeats: the walk leaves it after one
// repetition, so counts of up to 32767 at eight levels cost no time, and
// the modes, the records and the reversion are those of the whole walk
// ("$" and ":" are met once: a further meeting changes nothing).  Groups
// that write, move or end records still repeat.
TEST(FormatWalk, EmptyGroupsAreCrossedAtOnce) {
    const std::string deep = "(32767(32767(32767(32767(32767(32767(32767()))))))))";
    struct Row {
        std::string text;
        int items;
        std::string trace;
    };
    const Row rows[] = {
        {"(326(3263((3263()3())))3()))", 1, "error 60"},
        {deep, 1, "error 60"},
        {deep, 0, "<end>"},
        {"(I2,32767(32767(32767(BN,SP,3P))))", 1, "I2 <end>"},
        {"(32767(32767(32767())),I2)", 2, "I2 | I2 <end>"},
        {"(2(I1,32767()),I2)", 3, "I1 I1 I2 <end>"},
        {"(3(2(),2X))", 0, "2X 2X 2X <end>"},
        {"(2(3(),'a'),2(/))", 0, "[a] [a] / / <end>"},
        {"(2(2(:)),I1)", 2, ": I1 | : I1 <end>"},
        {"(32767(3277(32767(32767($)))),I2)", 1, "$ I2 <end>"},
        {"(32767(32767(32767(Q))),I1)", 1, "Q I1 <end>"},
    };
    for (const Row& row : rows) {
        Compiled c(row.text);
        ASSERT_EQ(c.status, 0u) << row.text << " " << c.report;
        FormatState state;
        EXPECT_EQ(pair_items(c.program, row.items, nullptr, &state), row.trace) << row.text;
        if (row.text.find("BN,SP,3P") != std::string::npos) {
            EXPECT_EQ(state.blank, BLANK_BN) << row.text;
            EXPECT_EQ(state.sign, SIGN_SP) << row.text;
            EXPECT_EQ(state.scale, 3) << row.text;
        }
    }
    // The walk of a prepared program at compile time takes the same way.
    constexpr auto kPrepared = format_program<"(32767(32767(32767(32767()))),I2)">();
    EXPECT_EQ(pair_items(kPrepared.data(), 2), "I2 | I2 <end>");
}

namespace {

// The position a format of groups and moves leaves, each repetition carried
// out one by one (the text: counts, parentheses, nX, TLn, TRn, Tn, commas).
std::int32_t moved_one_by_one(const char*& text, std::int32_t pos) {
    while (*text && *text != ')') {
        std::int32_t n = 0;
        bool counted = false;
        for (; *text >= '0' && *text <= '9'; ++text, counted = true) n = n * 10 + (*text - '0');
        if (*text == '(') {
            const char* body = ++text;
            for (std::int32_t i = 0; i < (counted ? n : 1); ++i) {
                text = body;
                pos = moved_one_by_one(text, pos);
            }
            ++text;  // ')'
        } else if (*text == 'X') {
            ++text;
            pos = output_position(pos, 0, FC_X, counted ? n : 1);
        } else if (*text == 'T') {
            std::uint8_t category = FC_T;
            if (text[1] == 'L' || text[1] == 'R') category = text[1] == 'L' ? FC_TL : FC_TR;
            text += category == FC_T ? 1 : 2;
            for (n = 0; *text >= '0' && *text <= '9'; ++text) n = n * 10 + (*text - '0');
            pos = output_position(pos, 0, category, n);
        } else {
            ++text;  // ','
        }
    }
    return pos;
}

void apply_move(void* context, std::uint8_t category, std::int32_t n) {
    auto* pos = static_cast<std::int32_t*>(context);
    *pos = output_position(*pos, 0, category, n);
}

// The position the walk of a program without data descriptors leaves, -1
// when it does not reach the format end in 100 steps.
std::int32_t walked_position(const std::uint8_t* program) {
    std::int32_t pos = 0;
    const FormatPositioner positioner{apply_move, &pos, nullptr};
    FormatState state;
    format_state_begin(state, program);
    for (int i = 0; i < 100; ++i)
        if (next_descriptor(state, &positioner).category == FC_FORMAT_END) return pos;
    return -1;
}

}  // namespace

// A repetition that only moves is a function of the position: after the
// first, the remaining ones but the last are one move, and the position the
// walk leaves is the one every repetition carried out gives, at the record
// start, at the position limit and in between.
TEST(FormatWalk, RepeatedMovesLeaveThePositionOfEveryRepetition) {
    const char* const texts[] = {
        "(5(2X,TL1))",         "(40(3(TL2),1X))",       "(2(32767(32767X,TL1)))","(3(32767(32767X),TL5))",
        "(T50,9(3(TL7),5X))",  "(9(T5,3X),4(2X))",      "(6(4(TL1,3X),TL20))",  "(3(5(5(2X,TL5)),9X))",
        "(30(TR3,TL3))",       "(T100,25(TL4,2(TR1)))", "(12(3(3X),2(TL4)),T9,3(TL2))",
        "(40(300(TL32767),3X))",
    };
    for (const char* text : texts) {
        const char* cursor = text + 1;
        const std::int32_t expected = moved_one_by_one(cursor, 0);
        Compiled c(text);
        ASSERT_EQ(c.status, 0u) << text;
        EXPECT_EQ(walked_position(c.program), expected) << text;
    }
    // Found by the fuzzer: 34 million repetitions of five moves.
    Compiled found("(32(326(3263((3XPXX)3())))6614((3263(()3())))3()))");
    ASSERT_EQ(found.status, 0u);
    EXPECT_EQ(walked_position(found.program), 32 * 326 * 3263 * 5);
    Compiled deep("(32767(32767(32767(32767(32767(32767(32767(1X,TL2)))))))))");
    ASSERT_EQ(deep.status, 0u);
    EXPECT_EQ(walked_position(deep.program), 0);
}

// ---------------------------------------------------------------------------
// Variable format expressions

namespace {
std::int32_t g_count = 0;
std::int32_t g_width = 0;
std::int32_t width_routine(void* context) { return *static_cast<std::int32_t*>(context); }

// A long item whose flagged operands come from table entries: reference k
// names entry k (kind 3 for even entries, 10 for odd ones).
std::vector<std::uint8_t> vfe_item(std::uint8_t opcode, std::uint8_t flags, std::int32_t repeat,
                                   std::int32_t w, std::uint8_t type = 9) {
    auto item = long_item(opcode, repeat, w);
    item[1] = flags;
    for (std::uint8_t k = 0; k < 4; ++k) {
        const std::uint8_t kind = (k % 2 == 0) ? 3 : 10;
        item.insert(item.end(), {k, 0, kind, type});
    }
    return item;
}
}  // namespace

TEST(FormatExpressions, RangesAndError68) {
    std::int32_t d_value = 0;
    const FormatExpression table[] = {
        {&g_count, nullptr, nullptr},
        {nullptr, &width_routine, &g_width},
        {&d_value, nullptr, nullptr},
        {nullptr, &width_routine, &g_width},
    };
    const auto counted = join({long_item(1, 1, 0), vfe_item(36, VFE_REPEAT | VFE_W, 9, 9), long_item(2, 1, 0)});
    const auto moved = join({long_item(1, 1, 0), vfe_item(11, VFE_REPEAT, 9, 0), long_item(36, 1, 2),
                             vfe_item(11, VFE_REPEAT, 9, 0), long_item(2, 1, 0)});
    const auto scaled = join({long_item(1, 1, 0), vfe_item(10, VFE_W, 1, 0), long_item(36, 1, 2),
                              long_item(2, 1, 0)});
    const auto digits = join({long_item(1, 1, 0), vfe_item(33, VFE_W | VFE_D, 1, 0), long_item(2, 1, 0)});
    const auto bad_type = join({long_item(1, 1, 0), vfe_item(36, VFE_W, 1, 0, 7), long_item(2, 1, 0)});
    struct Row {
        const char* label;
        const std::vector<std::uint8_t>* program;
        std::int32_t count, width, d;
        int items;
        std::string trace;
    };
    const Row rows[] = {
        {"count 2, width 5", &counted, 2, 5, 0, 2, "I5 I5 <end>"},
        {"count 32767", &counted, 32767, 1, 0, 1, "I1 <I1>"},
        {"count 0", &counted, 0, 5, 0, 1, "error 68"},
        {"count 32768", &counted, 32768, 5, 0, 1, "error 68"},
        {"width -1", &counted, 1, -1, 0, 1, "error 68"},
        {"width 32768", &counted, 1, 32768, 0, 1, "error 68"},
        {"nX of 0", &moved, 0, 0, 0, 1, "0X I2 0X <end>"},
        {"nX of -1 with an item waiting", &moved, -1, 0, 0, 1, "error 68"},
        {"F w.d in range", &digits, 0, 12, 32767, 1, "F12.32767 <end>"},
        {"F d out of range", &digits, 0, 12, 32768, 1, "error 68"},
        {"type other than 9", &bad_type, 1, 1, 0, 1, "error 68"},
        {"kP", &scaled, 0, 0x1FE, 0, 1, "I2 <end>"},
    };
    for (const Row& row : rows) {
        g_count = row.count;
        g_width = row.width;
        d_value = row.d;
        EXPECT_EQ(pair_items(row.program->data(), row.items, table), row.trace) << row.label;
    }
    // kP takes the low byte of the value as a signed k, without a range.
    g_width = 0x1FE;
    FormatState state;
    pair_items(scaled.data(), 1, table, &state);
    EXPECT_EQ(state.scale, -2);

    // Out of range while no item waits (running on after the last item): held
    // to the range, no error.
    g_count = -5;
    FormatState after;
    format_state_begin(after, moved.data(), table);
    after.item_waiting = false;
    FormatStep step = next_descriptor(after, nullptr);
    EXPECT_EQ(step.status, 0u);
    EXPECT_EQ(step.category, FC_I);
}

// An expression in an otherwise empty group is evaluated on every
// repetition, as its routine may count on.
TEST(FormatExpressions, EvaluatedOnEveryRepetition) {
    static std::int32_t calls;
    calls = 0;
    const FormatExpression table[] = {{nullptr, nullptr, nullptr},
                                      {nullptr, [](void*) { return ++calls; }, nullptr}};
    const auto program = join({long_item(1, 1, 0), long_item(3, 5, 0), vfe_item(10, VFE_W, 1, 0),
                               long_item(4, 1, 0), long_item(36, 1, 2), long_item(2, 1, 0)});
    FormatState state;
    EXPECT_EQ(pair_items(program.data(), 1, table, &state), "I2 <end>");
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(state.scale, 5);
}

TEST(FormatExpressions, ValueKinds) {
    std::int32_t stored = -17;
    std::int32_t computed = 400;
    const FormatExpression table[] = {
        {&stored, nullptr, nullptr},
        {nullptr, &width_routine, &computed},
    };
    std::int32_t value = 0;
    const std::uint8_t by_address[] = {0, 0, 3, 9};
    const std::uint8_t by_routine[] = {1, 0, 10, 9};
    const std::uint8_t bad_kind[] = {0, 0, 4, 9};
    EXPECT_EQ(format_expression_value(table, by_address, value), 0u);
    EXPECT_EQ(value, -17);
    EXPECT_EQ(format_expression_value(table, by_routine, value), 0u);
    EXPECT_EQ(value, 400);
    EXPECT_EQ(status_number(format_expression_value(table, bad_kind, value)), 68u);
    EXPECT_EQ(status_number(format_expression_value(nullptr, by_address, value)), 68u);
}

// ---------------------------------------------------------------------------
// The run-time compiler

TEST(FormatCompiler, CompiledForms) {
    {
        Compiled c("(1X, 2I3 )");
        ASSERT_EQ(c.status, 0u);
        const auto expected = join({long_item(1, 1, 0), long_item(11, 1, 0), long_item(37, 2, 3, 1),
                                    long_item(2, 1, 0)});
        EXPECT_EQ(bytes_of(c.program, expected.size()), expected);
        EXPECT_EQ(c.report, "");
    }
    {
        Compiled lower("(i3)"), upper("(I3)");
        ASSERT_EQ(lower.status, 0u);
        ASSERT_EQ(upper.status, 0u);
        const auto expected = join({long_item(1, 1, 0), long_item(37, 1, 3, 1), long_item(2, 1, 0)});
        EXPECT_EQ(bytes_of(lower.program, expected.size()), expected);
        EXPECT_EQ(bytes_of(upper.program, expected.size()), expected);
    }
    {
        // A doubled delimiter ends one literal item with the delimiter and
        // opens the next.
        Compiled c("('it''s')");
        ASSERT_EQ(c.status, 0u);
        const auto expected = join({long_item(1, 1, 0), literal_item("it'"), literal_item("s"), long_item(2, 1, 0)});
        EXPECT_EQ(bytes_of(c.program, expected.size()), expected);
        EXPECT_EQ(pair_items(c.program, 0), "[it'] [s] <end>");
    }
    {
        // A negative k survives the 32-bit width field.
        Compiled c("(SP,-2P,BZ,F8.3)");
        ASSERT_EQ(c.status, 0u);
        FormatState state;
        EXPECT_EQ(pair_items(c.program, 1, nullptr, &state), "F8.3 <end>");
        EXPECT_EQ(state.scale, -2);
        EXPECT_EQ(state.sign, SIGN_SP);
        EXPECT_EQ(state.blank, BLANK_BZ);
    }
}

TEST(FormatCompiler, Descriptors) {
    struct Row {
        const char* text;
        std::vector<std::uint8_t> item;  // the one item between format begin and end
    };
    const Row rows[] = {
        {"(A)", long_item(19, 1, 0)},          {"(A12)", long_item(29, 1, 12)},
        {"(3D20.12)", long_item(30, 3, 20, 12)}, {"(E12.4)", long_item(31, 1, 12, 4)},
        {"(e12.4e3)", long_item(32, 1, 12, 4, 3)}, {"(F10.5)", long_item(33, 1, 10, 5)},
        {"(G15.7)", long_item(34, 1, 15, 7)},   {"(G15.7E2)", long_item(35, 1, 15, 7, 2)},
        {"(I)", long_item(24, 1, 0)},          {"(I6.4)", long_item(37, 1, 6, 4)},
        {"(L2)", long_item(38, 1, 2)},         {"(O8)", long_item(40, 1, 8, 1)},
        {"(Z4.4)", long_item(42, 1, 4, 4)},    {"(B)", long_item(43, 1, 0)},
        {"(B16)", long_item(45, 1, 16, 1)},    {"(EN)", long_item(46, 1, 0)},
        {"(EN12.3)", long_item(47, 1, 12, 3)}, {"(EN12.3E2)", long_item(48, 1, 12, 3, 2)},
        {"(ES)", long_item(49, 1, 0)},         {"(ES12.3)", long_item(50, 1, 12, 3)},
        {"(ES12.3E2)", long_item(51, 1, 12, 3, 2)}, {"(D)", long_item(20, 1, 0)},
        {"(BN)", long_item(5, 1, 0)},          {"(BZ)", long_item(6, 1, 0)},
        {"(SP)", long_item(7, 1, 0)},          {"(SS)", long_item(8, 1, 0)},
        {"(S)", long_item(9, 1, 0)},           {"(-2P)", long_item(10, 1, -2)},
        {"(+3P)", long_item(10, 1, 3)},        {"(P)", long_item(10, 1, 0)},
        {"(X)", long_item(11, 1, 0)},          {"(0X)", long_item(11, 0, 0)},
        {"(T10)", long_item(12, 1, 10)},       {"(TL 2)", long_item(13, 1, 2)},
        {"(tr3)", long_item(14, 1, 3)},        {"(Q)", long_item(15, 1, 0)},
        {"($)", long_item(16, 1, 0)},          {"(\\)", long_item(16, 1, 0)},
        {"(:)", long_item(17, 1, 0)},          {"(/)", long_item(18, 1, 0)},
        {"(4/)", long_item(18, 4, 0)},         {"(3HA B)", literal_item("A B")},
        {"(H!)", literal_item("!")},           {"(\"say \"\"hi\"\"\")", join({literal_item("say \""), literal_item("hi\"")})},
        {"(1 2 I 3)", long_item(37, 12, 3, 1)}, {"(\tF6.2)", long_item(33, 1, 6, 2)},
        {"(0I3)", long_item(37, 1, 3, 1)},
        {"(2(I3))", join({long_item(3, 2, 0), long_item(37, 1, 3, 1), long_item(4, 1, 0)})},
        {"(0(I3))", join({long_item(3, 1, 0), long_item(37, 1, 3, 1), long_item(4, 1, 0)})},
        {"(1PE12.4)", join({long_item(10, 1, 1), long_item(31, 1, 12, 4)})},
        {"(F10.5,,I2)", join({long_item(33, 1, 10, 5), long_item(37, 1, 2, 1)})},
    };
    for (const Row& row : rows) {
        Compiled c(row.text);
        ASSERT_EQ(c.status, 0u) << row.text << " " << c.report;
        const auto expected = join({long_item(1, 1, 0), row.item, long_item(2, 1, 0)});
        EXPECT_EQ(bytes_of(c.program, expected.size()), expected) << row.text;
    }
    // Text after the closing parenthesis is ignored; leading blanks are not
    // an error.
    Compiled trailing("   (I3) junk (");
    EXPECT_EQ(trailing.status, 0u);
}

TEST(FormatCompiler, SyntaxErrorsReport58Then62) {
    const std::string long_tail = "(I3,C" + std::string(100, '1') + ")";
    struct Row {
        std::string text;
        std::string shown;  // the text from the point of the error
    };
    const Row rows[] = {
        {"(F6)", ")"},
        {"(F6.)", ")"},
        {"(D5)", ")"},
        {"(I3", ""},
        {"", ""},
        {"I3)", "I3)"},
        {"(3T5)", "T5)"},
        {"(T)", ")"},
        {"(X3)", ")"},
        {"(+I3)", "I3)"},
        {"(.5)", ".5)"},
        {"(C)", "C)"},
        {"(J)", "J)"},
        {"(I3,<2>)", "<2>)"},
        {"(10H123)", "H123)"},
        {"('abc)", "'abc)"},
        {"(2:)", ":)"},
        {"(2')", "')"},
        {"(2)", ")"},
        {"(2BN)", "BN)"},
        {"(A5.2)", ")"},
        {"(L4.1)", ")"},
        {"(I4.2E2)", ")"},
        {"(200P)", "200P)"},
        {"(I40000)", "40000)"},
        {"(40000I3)", "40000I3)"},
        {"(F10.300)", "300)"},
        {"(((((((((I3)))))))))", "(I3)))))))))"},
        {long_tail, "C" + std::string(79, '1')},
    };
    for (const Row& row : rows) {
        Compiled c(row.text);
        EXPECT_EQ(c.status, status_of(MSG_FORMAT_SYNTAX)) << "[" << row.text << "]";
        EXPECT_EQ(c.program, nullptr) << "[" << row.text << "]";
        EXPECT_EQ(c.report, "forrtl: info (58): format syntax error at or near " + row.shown + "\r\n")
            << "[" << row.text << "]";
    }
}

// A program larger than 512 bytes grows the buffer; one past 65535 bytes
// cannot be addressed and is rejected.
TEST(FormatCompiler, GrowthAndProgramLimit) {
    std::string text = "(";
    for (int i = 0; i < 200; ++i) text += "I3,";
    text += "'" + std::string(1000, 'x') + "')";
    Compiled big(text);
    ASSERT_EQ(big.status, 0u);
    const std::string trace = pair_items(big.program, 200);
    EXPECT_TRUE(trace.ends_with("I3 I3 [" + std::string(1000, 'x') + "] <end>")) << trace.substr(0, 40);

    std::string huge = "(";
    for (int i = 0; i < 5500; ++i) huge += "I3,";
    huge += ")";
    Compiled too_big(huge);
    EXPECT_EQ(too_big.status, status_of(MSG_FORMAT_SYNTAX));
    EXPECT_EQ(too_big.program, nullptr);
}
