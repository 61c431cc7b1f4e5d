// Finding the end of the plain part of a JSON string: the bytes that decode
// as themselves and need no further look. Large events are almost all string
// content, so this is where decoding spends its time; it looks at 16 or 32
// bytes at once where the CPU can, and one at a time everywhere else.
#pragma once

#include <span>

namespace skillhook {

// The first byte in [begin, end) that is a quotation mark, a backslash, a
// control character (below 0x20) or not ASCII (0x80 and above); `end` when
// there is none.
using PlainStringScan = const char* (*)(const char* begin, const char* end);

struct StringScanPath {
    const char* name;
    PlainStringScan scan;
};

// Byte by byte: the path every platform has.
const char* scan_plain_string_bytes(const char* begin, const char* end);

// The paths this CPU runs: the plain one first, then the vector ones, the
// fastest last.
std::span<const StringScanPath> string_scan_paths();

// The fastest path this CPU runs.
PlainStringScan fastest_string_scan();

}  // namespace skillhook
