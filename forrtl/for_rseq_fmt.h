// Input editing: one field of an input record converted into one item.
//
// The editing works on plain data so that it can be used by the formatted
// READ driver, by list-directed input and by tests alike: a view of the
// current record, the data edit descriptor with the statement's modes, and
// one element of an item (its type code, address and length).  Nothing here
// knows about units or files.
#pragma once

#include <climits>
#include <cstdint>

#include "for_format.h"
#include "for_status.h"

namespace forrtl {

// What input editing needs to know about an item's type code.
enum TypeFamily : std::uint8_t {
    TF_INVALID = 0,
    TF_INTEGER,     // signed, two's complement
    TF_UNSIGNED,
    TF_LOGICAL,     // true when the lowest bit is 1; stored as -1 / 0
    TF_REAL,        // IEEE single or double
    TF_COMPLEX,     // a pair of reals; `size` is the size of one part
    TF_CHARACTER,   // length from the item
    TF_UNSUPPORTED, // valid code without an editing rule (16-byte reals, special items)
};

struct TypeClass {
    TypeFamily family;
    std::uint8_t size;  // element size in bytes (one part for complex; 0 for character)
};

// The family and element size of an item type code (0..255; codes without
// a type give TF_INVALID).
TypeClass classify_item_type(std::uint8_t type);

// One element to be stored: a scalar, one element of an array, or one part
// of a complex value (then `type` is still the complex code and `length`
// the size of the part).  For character items `length` is the declared
// length.
struct InputItem {
    std::uint8_t type;
    void* address;
    std::int32_t length;
};

// The current input record: `data[0..length)`, `pos` the next character to
// take (it may lie beyond `length` after positioning or padding).
struct InputRecord {
    const char* data;
    std::int32_t length;
    std::int32_t pos;
};

// Moves past fields, literals and positioning beyond a record's end stop
// here: far beyond any record a buffer holds, and far from wrapping around.
constexpr std::int32_t kInputPositionLimit = INT32_MAX / 2;

// `pos` advanced by `n` characters, no further than kInputPositionLimit.
constexpr std::int32_t advanced_position(std::int32_t pos, std::int32_t n) {
    const std::int64_t to = std::int64_t(pos) + n;
    return to > kInputPositionLimit ? kInputPositionLimit : std::int32_t(to);
}

// A data edit descriptor as the editing receives it: the category of the
// format program (FC_I, FC_F0, ...), w, d (m for I, O, Z, B), and the
// statement's scale factor and blank mode.  The exponent width e does not
// matter on input.
struct InputEdit {
    std::uint8_t category;
    std::int32_t w;
    std::int32_t d;
    std::int32_t scale;
    BlankMode blank;  // BLANK_BZ: blanks are zeros; otherwise ignored
};

// Connection and statement options that matter for taking a field.
struct InputOptions {
    bool pad;             // short records are completed with blanks (PAD='YES')
    bool standard_rules;  // statement flag bit 18: a short record is error 67
};

// The characters of one field: `text[0..length)`, then blanks up to
// `width` (the blanks a padded short record supplies).
struct InputField {
    const char* text;
    std::int32_t length;
    std::int32_t width;
};

// Fills in w and d of a descriptor written without a width from the item's
// type (the default widths table) and turns its category into the form
// with a width.  Descriptors with a width are returned unchanged.
InputEdit resolve_input_edit(const InputEdit& edit, const InputItem& item);

// Takes the field of `edit` at the record's current position: w characters
// (a comma ends it early except under A), padded or shortened when the
// record ends first, or error 67 on a connection without padding under the
// standard-rules option.  The position moves past the field and the comma.
Status take_input_field(InputRecord& record, const InputEdit& edit, const InputItem& item,
                        const InputOptions& options, InputField& field);

// Converts one field and stores the value into the item.  Returns 0, 61
// (the descriptor does not accept the item's type) or 64 (the field does
// not convert, or its value is out of the item's range).  On failure the
// item keeps its value.
Status edit_input_field(const InputEdit& edit, const InputField& field, const InputItem& item);

// resolve_input_edit + take_input_field + edit_input_field: what the
// formatted READ driver calls for each element paired with a data edit
// descriptor.
Status read_input_field(InputRecord& record, const InputEdit& edit, const InputItem& item,
                        const InputOptions& options);

// The Q descriptor: stores the number of characters left in the record
// (never below 0) into an integer or logical item; 61 for other types.
Status edit_input_q(const InputRecord& record, const InputItem& item);

// Text conversion primitives (also used by list-directed input).
//
// Integer: leading blanks, optional sign, digits; blanks inside and after
// the digits per blank mode; all blanks is 0.  The magnitude is collected
// in 64 bits; `negative` and `magnitude` are the result.  false on a bad
// character or a magnitude beyond 2^64 - 1.
bool text_to_integer(const InputField& field, BlankMode blank, bool& negative,
                     std::uint64_t& magnitude);

// Real: the rules of F, E, D, G, EN and ES input.  `d` is the implied
// fraction digit count (used when the field holds no "."), `scale` the
// scale factor (used when the field holds no exponent); `size` 4 or 8
// selects the precision.  The result is correctly rounded from the (at
// most 27) significant digits kept.  Stores a float or a double into
// `out`; false on a bad field or an overflow of the precision.
bool text_to_real(const InputField& field, BlankMode blank, std::int32_t d, std::int32_t scale,
                  int size, void* out);

// The value of a real field without implied fraction digits or scale
// factor, written in a short form that text_to_real reads as the same value
// (sign, the significant digits kept, exponent): at most kCompactRealText
// characters into `out`.  A field text_to_real refuses gives a text it
// refuses too.  Returns the length written.
constexpr std::int32_t kCompactRealText = 40;
std::int32_t compact_real_text(const InputField& field, BlankMode blank, char* out);

// The real (-1)^negative * mantissa * 10^exp10 for a mantissa below 10^19,
// correctly rounded to `size` 4 or 8 bytes and stored into `out`; false on
// an overflow of the precision.  The short way for a scanner that has
// collected the digits itself.
bool decimal_to_real(bool negative, std::uint64_t mantissa, std::int32_t exp10, int size, void* out);

// Logical (L input): false on a field that is neither blank nor starts
// with an optional "." and T/F.
bool text_to_logical(const InputField& field, bool& value);

// Stores a two's-complement value into an integer, unsigned or logical item
// of `size` bytes; false when it does not fit the item's range.
bool store_integer(void* address, int size, TypeFamily family, bool negative,
                   std::uint64_t magnitude);

}  // namespace forrtl
