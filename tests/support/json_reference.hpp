// Boost.JSON's full parse into values: the reference that the hook's own
// decoder is checked against, by the unit tables and the decoding fuzzer.
#pragma once

#include <boost/json.hpp>

#include <cstddef>
#include <string_view>

namespace skillhook::testing {

struct ReferenceParse {
    boost::json::value value;
    boost::json::error_code error;  // too_deep beyond max_depth
};

// The parse of one JSON text. Where Boost.JSON refuses a grammatical text
// (parser_refusals.hpp), the parse of the copy it accepts, which reads the same.
ReferenceParse reference_parse(std::string_view text, std::size_t max_depth);

}  // namespace skillhook::testing
