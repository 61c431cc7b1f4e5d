// Finding the end of the plain part of a JSON string: the bytes that decode
// as themselves and need no further look. Large events are almost all string
// content, so this is where decoding spends its time; it looks at 16 to 64
// bytes at once where the CPU can, UTF-8 included, and one at a time
// everywhere else.
#pragma once

#include <span>

namespace skillhook {

// Each returns the first byte in [begin, end) that it does not pass over,
// `end` when there is none.
using StringScan = const char* (*)(const char* begin, const char* end);
// Writes the decoded bytes of [begin, end) to `out`, which has room for as
// many; returns the end of what it wrote.
using StringDecode = char* (*)(const char* begin, const char* end, char* out);

struct StringScanPath {
    const char* name;
    // Passes over plain bytes: ASCII but a quotation mark, a backslash and a
    // control character (below 0x20); every well-formed UTF-8 sequence and
    // every two-byte escape (\" \\ \/ \b \f \n \r \t) that ends before
    // `end`. Stops at the first byte of anything else.
    StringScan plain_and_escapes;
    // Decodes what plain_and_escapes passed over: each escape as its one byte.
    StringDecode decode_plain_and_escapes;
};

// What a two-byte escape decodes as, by the byte after its backslash; NUL for none.
char two_byte_escape_value(char c);

// The paths this CPU runs: byte by byte first, which every platform has,
// then the vector ones, the fastest last.
std::span<const StringScanPath> string_scan_paths();

// The fastest path this CPU runs.
const StringScanPath& fastest_string_scan();

}  // namespace skillhook
