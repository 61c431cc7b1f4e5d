// The well-formed UTF-8 sequences of Unicode's table 3-7: no overlong form,
// no surrogate, nothing beyond U+10FFFF. Shared by the byte-by-byte reading of
// strings and by the string scans that pass over whole sequences.
#pragma once

#include <cstddef>

namespace skillhook {

// What a first byte says of its sequence: how many bytes follow it, and the
// range of the first that follows; the rest lie in 80..BF.
struct Utf8Lead {
    unsigned continuations = 0;  // 0: no sequence begins with this byte
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

inline Utf8Lead utf8_lead(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {1};
    if (lead == 0xE0) return {2, 0xA0};
    if (lead == 0xED) return {2, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {2};
    if (lead == 0xF0) return {3, 0x90};
    if (lead == 0xF4) return {3, 0x80, 0x8F};
    if (lead >= 0xF1 && lead <= 0xF3) return {3};
    return {0};
}

// The length of the well-formed multi-byte sequence that starts at `at` and
// ends before `end`; 0 when there is none.
inline std::size_t whole_sequence_length(const char* at, const char* end) {
    const Utf8Lead lead = utf8_lead(static_cast<unsigned char>(*at));
    if (lead.continuations == 0 || static_cast<std::size_t>(end - at) <= lead.continuations) return 0;
    const auto first = static_cast<unsigned char>(at[1]);
    if (first < lead.low || first > lead.high) return 0;
    for (std::size_t i = 2; i <= lead.continuations; ++i)
        if ((static_cast<unsigned char>(at[i]) & 0xC0) != 0x80) return 0;
    return lead.continuations + 1;
}

// Whether the `count` bytes at `at` begin a well-formed sequence longer than them.
inline bool begins_sequence(const char* at, std::ptrdiff_t count) {
    const Utf8Lead lead = utf8_lead(static_cast<unsigned char>(*at));
    if (static_cast<std::ptrdiff_t>(lead.continuations) < count) return false;
    if (count >= 2 && (static_cast<unsigned char>(at[1]) < lead.low || static_cast<unsigned char>(at[1]) > lead.high))
        return false;
    return count < 3 || (static_cast<unsigned char>(at[2]) & 0xC0) == 0x80;
}

// How many bytes at the end of [.., end) begin a sequence they do not finish,
// judged by its first byte alone (0 to 3); the text before `end` must hold
// at least three bytes.
inline std::ptrdiff_t unfinished_tail(const char* end) {
    if (static_cast<unsigned char>(end[-1]) >= 0xC0) return 1;
    if (static_cast<unsigned char>(end[-2]) >= 0xE0) return 2;
    if (static_cast<unsigned char>(end[-3]) >= 0xF0) return 3;
    return 0;
}

}  // namespace skillhook
