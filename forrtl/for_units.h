// The connection statements OPEN, INQUIRE and CLOSE.  Each takes the
// caller's control block (its first word set to 0 before the statement),
// the unit, the statement flag word, the compiled keyword list (4-byte
// entries: type, kind, keyword code, 0; type 1 ends it) and the keyword
// values.  The result is 0, or with an error branch (flag bit 0) the
// message number; without one failures are reported.
#pragma once

#include <cstdint>

#include "for_desc_item.h"
#include "for_lub.h"

namespace forrtl {

int for_open(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
             const ArgWord* values);

// `unit` is -1 when FILE= names the file to inquire about.
int for_inquire(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
                const ArgWord* values);

int for_close(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
              const ArgWord* values);

// Copies the statement flag-word options into the block (error and end
// branches, alternative defaults, compatibility numbering, name prompting).
inline void for_copy_statement_options(Lub* lub, std::uint32_t flags) {
    lub->options = flags;
    lub->error_branch = (flags & SF_ERROR_BRANCH) != 0;
    lub->end_branch = (flags & SF_END_BRANCH) != 0;
    lub->eor_branch = (flags & SF_EOR_BRANCH) != 0;
    lub->alt_defaults = (flags & SF_ALT_DEFAULTS) != 0;
    lub->compat_numbering = (flags & SF_COMPAT_NUMBERING) != 0;
    lub->prompt_names = (flags & SF_PROMPT_NAMES) != 0;
}

// The error exit of a statement whose unit could not be looked up: the
// message names the unit and the file "unknown".
int for_unit_lookup_failure(Status code, std::int32_t unit, std::uint32_t flags);

}  // namespace forrtl
