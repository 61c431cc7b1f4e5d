// Boost.JSON refuses two kinds of text that RFC 8259 allows: a \u escape of a
// lone UTF-16 surrogate, and an exponent too large for its int. After such a
// refusal the reference parse (json_reference.hpp) parses a rewritten copy
// instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

// A copy of the JSON text, of the same length, that Boost.JSON accepts where
// it refused only for the reasons above and that the hook reads as the
// original. A lone surrogate escape becomes \u0000: like NUL, a lone
// surrogate has no place in an argument (it has no UTF-8 form) and is an
// ordinary character anywhere else. Every exponent becomes a run of zeros:
// only whether a number is zero matters, and its significand decides that.
// Nothing when there is nothing to rewrite. Exact for grammatical text; any
// other text stays ungrammatical.
std::optional<std::string> without_parser_refusals(std::string_view json_text);

}  // namespace skillhook
