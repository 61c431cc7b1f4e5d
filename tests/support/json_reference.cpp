#include "json_reference.hpp"

#include "parser_refusals.hpp"

#include <boost/json/src.hpp>  // compiled in here, once, so that no Boost library is needed

#include <optional>
#include <string>

namespace skillhook::testing {

namespace json = boost::json;

ReferenceParse reference_parse(std::string_view text, std::size_t max_depth) {
    json::parse_options options;
    options.max_depth = max_depth;
    ReferenceParse parse;
    parse.value = json::parse(text, parse.error, {}, options);
    // A lone leading surrogate before anything but an escape is a syntax error to Boost.JSON.
    if (parse.error == json::error::illegal_leading_surrogate || parse.error == json::error::illegal_trailing_surrogate ||
        parse.error == json::error::exponent_overflow || parse.error == json::error::syntax) {
        if (const std::optional<std::string> accepted = without_parser_refusals(text))
            parse.value = json::parse(*accepted, parse.error, {}, options);
    }
    return parse;
}

}  // namespace skillhook::testing
