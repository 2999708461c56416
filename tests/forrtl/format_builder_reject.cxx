// Must not compile: a prepared format with a syntax error (F without d)
// fails the build at the point where it is written.  Built only by the
// test format_builder_rejects_syntax_error.
#include "for_fmt_builder.h"

constexpr auto kBad = forrtl::format_program<"(TR1,F6)">();

int main() { return kBad[0]; }
