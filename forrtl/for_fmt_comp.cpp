// The run-time format compiler: format text supplied at run time becomes a
// program of long items and literal items in a heap buffer that grows in
// 512-byte steps.  A syntax error is reported as message 58 with the text
// from the point of the error; the statement then fails with error 62.
#include <cstdlib>
#include <cstring>

#include "for_diags.h"
#include "for_fmt_parse.h"
#include "for_format.h"

namespace forrtl {

namespace {

constexpr std::int32_t kGrowthStep = 512;
constexpr std::int32_t kShownTextMax = 80;

struct ProgramBuffer {
    std::uint8_t* data = nullptr;
    std::int32_t size = 0;
    std::int32_t capacity = 0;

    // Room for `bytes` more bytes, or why not.
    int reserve(std::int32_t bytes) {
        if (size + bytes > kFormatMaxProgram) return FMT_EMIT_TOO_LONG;
        while (size + bytes > capacity) {
            void* grown = std::realloc(data, static_cast<std::size_t>(capacity + kGrowthStep));
            if (!grown) return FMT_EMIT_ABORT;
            data = static_cast<std::uint8_t*>(grown);
            capacity += kGrowthStep;
        }
        return FMT_EMIT_OK;
    }

    void put32(std::uint8_t* at, std::int32_t value) {
        const auto v = static_cast<std::uint32_t>(value);
        at[0] = static_cast<std::uint8_t>(v);
        at[1] = static_cast<std::uint8_t>(v >> 8);
        at[2] = static_cast<std::uint8_t>(v >> 16);
        at[3] = static_cast<std::uint8_t>(v >> 24);
    }

    int operator()(const FmtToken& token) {
        if (token.kind == TOK_LITERAL) {
            const std::int32_t item = 4 + ((token.length + 3) & ~3);
            if (int answer = reserve(item)) return answer;
            std::uint8_t* at = data + size;
            std::memset(at, 0, static_cast<std::size_t>(item));
            at[0] = FC_LITERAL;
            at[2] = static_cast<std::uint8_t>(token.length);
            at[3] = static_cast<std::uint8_t>(token.length >> 8);
            std::memcpy(at + 4, token.text, static_cast<std::size_t>(token.length));
            size += item;
            return FMT_EMIT_OK;
        }
        if (int answer = reserve(kLongItemSize)) return answer;
        std::uint8_t* at = data + size;
        at[0] = token.category;
        at[1] = 0;
        at[2] = token.e;
        at[3] = token.d;
        put32(at + 4, token.repeat);
        put32(at + 8, token.w);
        size += kLongItemSize;
        return FMT_EMIT_OK;
    }
};

}  // namespace

Status compile_format(const char* text, std::int32_t length, std::uint8_t** program) {
    *program = nullptr;
    if (length < 0 || !text) length = 0;
    if (!text) text = "";
    ProgramBuffer buffer;
    if (buffer.reserve(kGrowthStep) != FMT_EMIT_OK) return status_of(MSG_NO_MEMORY);

    const FmtParseResult result = parse_format_text(text, length, buffer);
    if (result.outcome == FMT_PARSE_OK) {
        *program = buffer.data;
        return 0;
    }
    std::free(buffer.data);
    if (result.outcome == FMT_PARSE_ABORTED) return status_of(MSG_NO_MEMORY);

    std::int32_t shown = length - result.position;
    if (shown > kShownTextMax) shown = kShownTextMax;
    if (shown < 0) shown = 0;
    for_report(status_of(MSG_FORMAT_SYNTAX_AT), 2, static_cast<int>(shown),
               text + result.position);
    return status_of(MSG_FORMAT_SYNTAX);
}

void release_format(std::uint8_t* program) { std::free(program); }

}  // namespace forrtl
