// The grammar of format text, shared by the run-time format compiler and the
// compile-time builder of prepared programs.  The parser is constexpr: it
// walks the text once and hands each format item, as a token, to an emitter
// that decides the encoding (the compiler writes long items into a heap
// buffer, the builder short and long items into a std::array).
//
// An emitter is called as `int emit(const FmtToken&)` and answers
// FMT_EMIT_OK, FMT_EMIT_TOO_LONG (the program would pass 65535 bytes: the
// text is rejected at this point like a syntax error) or FMT_EMIT_ABORT (no
// storage: the parse stops at once).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "for_format.h"

namespace forrtl {

enum FmtTokenKind : std::uint8_t {
    TOK_FORMAT_BEGIN,
    TOK_FORMAT_END,
    TOK_GROUP_BEGIN,   // repeat = group count
    TOK_GROUP_END,
    TOK_DESCRIPTOR,    // category and operands
    TOK_LITERAL,       // text, length
};

struct FmtToken {
    FmtTokenKind kind;
    std::uint8_t category;  // descriptors; I, O, Z, B with a width carry the w.m category
    bool m_written;         // I, O, Z, B: ".m" was written (else m = 1)
    std::int32_t repeat;    // 1 when none is written
    std::int32_t w;         // width, the n of T/TL/TR, k of kP
    std::uint8_t d;         // d, or m
    std::uint8_t e;
    const char* text;       // literal
    std::int32_t length;
};

enum FmtEmitAnswer { FMT_EMIT_OK = 0, FMT_EMIT_TOO_LONG = 1, FMT_EMIT_ABORT = 2 };
enum FmtParseOutcome { FMT_PARSE_OK = 0, FMT_PARSE_SYNTAX = 1, FMT_PARSE_ABORTED = 2 };

struct FmtParseResult {
    FmtParseOutcome outcome;
    std::int32_t position;  // where the error was found
};

namespace fmt_detail {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr char to_upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Data descriptor families and the category for 0, 1 (w), 2 (w.d) and 3
// (w.dEe) operands; 0 marks a count of operands the letter does not take.
struct Family {
    char letter;   // first letter
    char second;   // second letter, or 0
    std::uint8_t by_operands[4];
};
constexpr Family kDataFamilies[] = {
    {'A', 0, {FC_A0, FC_A, 0, 0}},
    {'D', 0, {FC_D0, 0, FC_D, 0}},
    {'E', 'N', {FC_EN0, 0, FC_EN, FC_ENE}},
    {'E', 'S', {FC_ES0, 0, FC_ES, FC_ESE}},
    {'E', 0, {FC_E0, 0, FC_E, FC_EE}},
    {'F', 0, {FC_F0, 0, FC_F, 0}},
    {'G', 0, {FC_G0, 0, FC_G, FC_GE}},
    {'I', 0, {FC_I0, FC_IM, FC_IM, 0}},
    {'L', 0, {FC_L0, FC_L, 0, 0}},
    {'O', 0, {FC_O0, FC_OM, FC_OM, 0}},
    {'Z', 0, {FC_Z0, FC_ZM, FC_ZM, 0}},
    {'B', 0, {FC_B0, FC_BM, FC_BM, 0}},
};

// Control descriptors that take neither count nor operand.
struct Control {
    char letter;
    char second;
    std::uint8_t category;
};
constexpr Control kControls[] = {
    {'B', 'N', FC_BN}, {'B', 'Z', FC_BZ}, {'S', 'P', FC_SP}, {'S', 'S', FC_SS},
    {'S', 0, FC_S},    {'Q', 0, FC_Q},
};

}  // namespace fmt_detail

// Parses `length` characters of format text.  Blanks and tabs outside
// literals are ignored; lower case counts as upper case; the text after the
// parenthesis that closes the format is ignored.
template <class Emit>
constexpr FmtParseResult parse_format_text(const char* t, std::int32_t n, Emit& emit) {
    using namespace fmt_detail;
    std::int32_t i = 0;
    auto skip = [&] {
        while (i < n && is_blank(t[i])) ++i;
    };
    auto at = [&](char c) {  // next non-blank character is c (letters in either case)
        skip();
        return i < n && to_upper(t[i]) == c;
    };
    auto digit_next = [&] {
        skip();
        return i < n && is_digit(t[i]);
    };
    // An unsigned number, blanks inside it ignored; above `limit` it is
    // rejected, the position left at its first digit.
    auto number = [&](std::int32_t limit, std::int32_t& value) {
        value = 0;
        skip();
        const std::int32_t first = i;
        while (digit_next()) {
            value = value * 10 + (t[i] - '0');
            if (value > limit) {
                i = first;
                return false;
            }
            ++i;
        }
        return true;
    };
    auto syntax = [&](std::int32_t at_pos) { return FmtParseResult{FMT_PARSE_SYNTAX, at_pos}; };
    FmtParseResult stop{FMT_PARSE_OK, 0};
    auto put = [&](const FmtToken& token, std::int32_t at_pos) {
        int answer = emit(token);
        if (answer == FMT_EMIT_OK) return true;
        stop = FmtParseResult{answer == FMT_EMIT_TOO_LONG ? FMT_PARSE_SYNTAX : FMT_PARSE_ABORTED, at_pos};
        return false;
    };
    auto token_of = [](FmtTokenKind kind, std::uint8_t category, std::int32_t repeat) {
        FmtToken token{};
        token.kind = kind;
        token.category = category;
        token.repeat = repeat;
        return token;
    };

    skip();
    if (i >= n || t[i] != '(') return syntax(i);
    ++i;
    int depth = 1;
    if (!put(token_of(TOK_FORMAT_BEGIN, FC_FORMAT_BEGIN, 1), 0)) return stop;

    for (;;) {
        skip();
        if (i >= n) return syntax(i);
        const std::int32_t start = i;
        if (t[i] == ',') {
            ++i;
            continue;
        }
        bool has_sign = false, negative = false;
        if (t[i] == '+' || t[i] == '-') {
            has_sign = true;
            negative = t[i] == '-';
            ++i;
        }
        bool has_count = false;
        std::int32_t count = 0;
        if (digit_next()) {
            has_count = true;
            if (!number(32767, count)) return syntax(start);
        }
        skip();
        if (i >= n) return syntax(i);
        const std::int32_t here = i;
        const char c = to_upper(t[i]);
        if (has_sign && c != 'P') return syntax(here);
        const std::int32_t repeat = has_count && count > 0 ? count : 1;

        switch (c) {
        case '(':
            if (depth == kFormatMaxDepth) return syntax(here);
            ++depth;
            ++i;
            if (!put(token_of(TOK_GROUP_BEGIN, FC_GROUP_BEGIN, repeat), here)) return stop;
            continue;
        case ')':
            if (has_count) return syntax(here);
            ++i;
            if (--depth == 0) {
                if (!put(token_of(TOK_FORMAT_END, FC_FORMAT_END, 1), here)) return stop;
                return FmtParseResult{FMT_PARSE_OK, i};
            }
            if (!put(token_of(TOK_GROUP_END, FC_GROUP_END, 1), here)) return stop;
            continue;
        case '/':
            ++i;
            if (!put(token_of(TOK_DESCRIPTOR, FC_SLASH, repeat), here)) return stop;
            continue;
        case ':':
        case '$':
        case '\\':
            if (has_count) return syntax(here);
            ++i;
            if (!put(token_of(TOK_DESCRIPTOR, c == ':' ? FC_COLON : FC_DOLLAR, 1), here)) return stop;
            continue;
        case '\'':
        case '"': {
            if (has_count) return syntax(here);
            const char delimiter = t[i];
            std::int32_t piece = ++i;
            for (;;) {
                if (i >= n) return syntax(here);
                if (t[i] != delimiter) {
                    ++i;
                    continue;
                }
                // A doubled delimiter stands for one: the piece ends with it
                // and a new literal item holds the rest.
                const bool doubled = i + 1 < n && t[i + 1] == delimiter;
                const std::int32_t end = doubled ? i + 1 : i;
                if (end > piece) {
                    FmtToken token = token_of(TOK_LITERAL, FC_LITERAL, 1);
                    token.text = t + piece;
                    token.length = end - piece;
                    if (!put(token, piece)) return stop;
                }
                i += doubled ? 2 : 1;
                piece = i;
                if (!doubled) break;
            }
            continue;
        }
        case 'H': {
            ++i;
            const std::int32_t chars = has_count ? count : 1;
            if (n - i < chars) return syntax(here);
            if (chars > 0) {
                FmtToken token = token_of(TOK_LITERAL, FC_LITERAL, 1);
                token.text = t + i;
                token.length = chars;
                if (!put(token, here)) return stop;
            }
            i += chars;
            continue;
        }
        default:
            break;
        }

        // Letters: the family, then up to three operands w, .d and Ee.
        bool letter = false;
        for (char known : {'A', 'B', 'D', 'E', 'F', 'G', 'I', 'L', 'O', 'P', 'Q', 'S', 'T', 'X', 'Z'})
            letter = letter || c == known;
        if (!letter) return syntax(here);
        ++i;
        char second = 0;
        if ((c == 'B' && (at('N') || at('Z'))) || (c == 'E' && (at('N') || at('S'))) ||
            (c == 'S' && (at('P') || at('S'))) || (c == 'T' && (at('L') || at('R')))) {
            second = to_upper(t[i]);
            ++i;
        }
        bool has_w = false, has_d = false, has_e = false;
        std::int32_t w = 0, d = 0, e = 0;
        if (digit_next()) {
            has_w = true;
            if (!number(32767, w)) return syntax(i);
        }
        if (at('.')) {
            if (!has_w) return syntax(i);
            ++i;
            if (!digit_next()) return syntax(i);
            has_d = true;
            if (!number(255, d)) return syntax(i);
        }
        if (has_d && at('E')) {
            std::int32_t keep = i++;
            if (digit_next()) {
                has_e = true;
                if (!number(255, e)) return syntax(i);
            } else {
                i = keep;  // the E starts the next descriptor
            }
        }
        skip();
        const std::int32_t after = i;
        const int operands = has_e ? 3 : has_d ? 2 : has_w ? 1 : 0;

        FmtToken token = token_of(TOK_DESCRIPTOR, FC_INVALID, repeat);
        if (c == 'P') {
            if (operands != 0) return syntax(after);
            const std::int32_t k = negative ? -count : count;
            if (k < -128 || k > 127) return syntax(start);
            token.category = FC_P;
            token.w = k;
            token.repeat = 1;
        } else if (c == 'X') {
            if (second || operands != 0) return syntax(after);
            token.category = FC_X;
            token.repeat = has_count ? count : 1;
        } else if (c == 'T') {
            if (has_count) return syntax(here);
            if (operands != 1) return syntax(after);
            token.category = second == 'L' ? FC_TL : second == 'R' ? FC_TR : FC_T;
            token.w = w;
            token.repeat = 1;
        } else {
            bool found = false;
            for (const Control& control : kControls) {
                if (control.letter == c && control.second == second) {
                    if (has_count) return syntax(here);
                    if (operands != 0) return syntax(after);
                    token.category = control.category;
                    token.repeat = 1;
                    found = true;
                    break;
                }
            }
            if (!found) {
                for (const Family& family : kDataFamilies) {
                    if (family.letter == c && family.second == second) {
                        token.category = family.by_operands[operands];
                        found = true;
                        break;
                    }
                }
                if (!found) return syntax(here);
                if (token.category == FC_INVALID) return syntax(after);
                token.w = w;
                token.e = static_cast<std::uint8_t>(e);
                const bool takes_m = token.category == FC_IM || token.category == FC_OM ||
                                     token.category == FC_ZM || token.category == FC_BM;
                token.m_written = takes_m && has_d;
                token.d = static_cast<std::uint8_t>(takes_m && !has_d ? 1 : d);
            }
        }
        if (!put(token, start)) return stop;
    }
}

}  // namespace forrtl
