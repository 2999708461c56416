// Prepared format programs written as format text and encoded at compile
// time:
//
//     inline constexpr auto kPlaneRow = forrtl::format_program<"2(3I4,F10.5,TR3,F6.2,TR1,':')">();
//
// gives a std::array<std::uint8_t, N>, N computed from the text.  The text
// follows the run-time compiler's grammar; a syntax error fails the build
// (the evaluation reaches format_text_syntax_error, which is not constexpr).
//
// The encoding is the one of the calculator's programs: short items for the
// format and group parentheses (54, 55, 56 with its count, 57), "/" (71 with
// its count) and "$" (69); long items for every other descriptor, the I, O,
// Z and B forms without m in their plain-width categories (Iw is 36); literal
// items for quoted text and nH.  Repeat counts not written are 1, operands a
// descriptor does not carry are 0.
//
// A constexpr array lives in read-only storage.  A program whose literals a
// READ may fill must be copied into writable storage first (a non-const
// static initialised from format_program).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "for_fmt_parse.h"

namespace forrtl {

// The format text as a template argument.  Text that does not begin with
// "(" is the content of the format, as written in a FORMAT statement
// ("2(3I4,F10.5)"): the format's own parentheses are put around it.
template <std::size_t N>
struct FormatText {
    char text[N + 2]{};
    std::int32_t length = 0;
    consteval FormatText(const char (&s)[N]) {
        std::size_t first = 0;
        while (first + 1 < N && (s[first] == ' ' || s[first] == '\t')) ++first;
        const bool content = s[first] != '(';
        if (content) text[length++] = '(';
        for (std::size_t i = 0; i + 1 < N; ++i) text[length++] = s[i];
        if (content) text[length++] = ')';
    }
};

// Reached only by the compile-time evaluation of a faulty format text.
inline void format_text_syntax_error(std::int32_t /*position*/) {}

namespace fmt_detail {

constexpr std::uint8_t builder_category(const FmtToken& token) {
    if (!token.m_written) {
        switch (token.category) {
        case FC_IM: return FC_I;
        case FC_OM: return FC_O;
        case FC_ZM: return FC_Z;
        case FC_BM: return FC_B;
        default: break;
        }
    }
    return token.category;
}

constexpr std::size_t builder_item_size(const FmtToken& token) {
    switch (token.kind) {
    case TOK_LITERAL: return 4 + ((static_cast<std::size_t>(token.length) + 3) & ~std::size_t{3});
    case TOK_DESCRIPTOR:
        return token.category == FC_SLASH || token.category == FC_DOLLAR ? 4 : kLongItemSize;
    default: return 4;
    }
}

struct SizeEmitter {
    std::size_t size = 0;
    constexpr int operator()(const FmtToken& token) {
        size += builder_item_size(token);
        return size > kFormatMaxProgram ? FMT_EMIT_TOO_LONG : FMT_EMIT_OK;
    }
};

template <std::size_t N>
struct ArrayEmitter {
    std::array<std::uint8_t, N>& out;
    std::size_t at = 0;

    constexpr void put16(std::size_t p, std::uint32_t v) {
        out[p] = static_cast<std::uint8_t>(v);
        out[p + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    constexpr void put32(std::size_t p, std::uint32_t v) {
        put16(p, v);
        put16(p + 2, v >> 16);
    }
    constexpr void short_item(std::uint8_t opcode, std::uint32_t operand) {
        out[at] = opcode;
        put16(at + 2, operand);
        at += 4;
    }

    constexpr int operator()(const FmtToken& token) {
        switch (token.kind) {
        case TOK_FORMAT_BEGIN: short_item(OP_SHORT_FORMAT_BEGIN, 0); break;
        case TOK_FORMAT_END: short_item(OP_SHORT_FORMAT_END, 0); break;
        case TOK_GROUP_BEGIN: short_item(OP_SHORT_GROUP_BEGIN, static_cast<std::uint32_t>(token.repeat)); break;
        case TOK_GROUP_END: short_item(OP_SHORT_GROUP_END, 0); break;
        case TOK_LITERAL: {
            out[at] = FC_LITERAL;
            put16(at + 2, static_cast<std::uint32_t>(token.length));
            for (std::int32_t i = 0; i < token.length; ++i)
                out[at + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(token.text[i]);
            at += builder_item_size(token);
            break;
        }
        case TOK_DESCRIPTOR:
            if (token.category == FC_SLASH) {
                short_item(OP_SHORT_SLASH, static_cast<std::uint32_t>(token.repeat));
            } else if (token.category == FC_DOLLAR) {
                short_item(OP_SHORT_DOLLAR, 0);
            } else {
                const std::uint8_t category = builder_category(token);
                const bool plain_width = category == FC_I || category == FC_O || category == FC_Z ||
                                         category == FC_B;
                out[at] = category;
                out[at + 2] = token.e;
                out[at + 3] = plain_width ? 0 : token.d;
                put32(at + 4, static_cast<std::uint32_t>(token.repeat));
                put32(at + 8, static_cast<std::uint32_t>(token.w));
                at += kLongItemSize;
            }
            break;
        }
        return FMT_EMIT_OK;
    }
};

// Parses for the size; a prepared format must also end at its closing
// parenthesis (text after it would be silently ignored at run time, here it
// is a typing error).
constexpr FmtParseResult builder_parse(const char* text, std::int32_t length, SizeEmitter& sizes) {
    FmtParseResult result = parse_format_text(text, length, sizes);
    if (result.outcome != FMT_PARSE_OK) return result;
    for (std::int32_t i = result.position; i < length; ++i)
        if (!is_blank(text[i])) return FmtParseResult{FMT_PARSE_SYNTAX, i};
    return result;
}

consteval std::size_t builder_program_size(const char* text, std::int32_t length) {
    SizeEmitter sizes;
    const FmtParseResult result = builder_parse(text, length, sizes);
    if (result.outcome != FMT_PARSE_OK) format_text_syntax_error(result.position);
    return sizes.size;
}

}  // namespace fmt_detail

// True when format_program accepts the text (for checks at compile time).
template <FormatText F>
constexpr bool format_text_valid() {
    fmt_detail::SizeEmitter sizes;
    return fmt_detail::builder_parse(F.text, F.length, sizes).outcome == FMT_PARSE_OK;
}

template <FormatText F>
consteval auto format_program() {
    constexpr std::size_t size = fmt_detail::builder_program_size(F.text, F.length);
    std::array<std::uint8_t, size> program{};
    fmt_detail::ArrayEmitter<size> emitter{program};
    parse_format_text(F.text, F.length, emitter);
    return program;
}

}  // namespace forrtl
