#include "string_scan.hpp"

#include <bit>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace skillhook {
namespace {

bool is_plain(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

}  // namespace

const char* scan_plain_string_bytes(const char* begin, const char* end) {
    while (begin != end && is_plain(*begin)) ++begin;
    return begin;
}

namespace {

#if defined(__x86_64__)
// SSE2 is part of every x86-64 CPU. Compared as signed bytes, the control
// characters and every byte of 0x80 and above are both below 0x20.
const char* scan_sse2(const char* begin, const char* end) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    for (; end - begin >= 16; begin += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                                             _mm_cmplt_epi8(bytes, space));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special)); mask != 0)
            return begin + std::countr_zero(mask);
    }
    return scan_plain_string_bytes(begin, end);
}

// Compiled for AVX2 alone and called only where the CPU reports it.
__attribute__((target("avx2"))) const char* scan_avx2(const char* begin, const char* end) {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i space = _mm256_set1_epi8(0x20);
    for (; end - begin >= 32; begin += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(begin));
        const __m256i special = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(bytes, quote), _mm256_cmpeq_epi8(bytes, backslash)),
            _mm256_cmpgt_epi8(space, bytes));
        if (const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(special)); mask != 0)
            return begin + std::countr_zero(mask);
    }
    return scan_sse2(begin, end);
}

bool cpu_runs_avx2() {
    // Checks the operating system's support for the wide registers too.
    return __builtin_cpu_supports("avx2");
}

const StringScanPath all_paths[] = {{"scalar", scan_plain_string_bytes}, {"sse2", scan_sse2}, {"avx2", scan_avx2}};

std::span<const StringScanPath> paths_this_cpu_runs() {
    const std::span<const StringScanPath> all(all_paths);
    return cpu_runs_avx2() ? all : all.first(2);
}

#elif defined(__aarch64__)
// NEON is part of every 64-bit ARM CPU.
const char* scan_neon(const char* begin, const char* end) {
    const uint8x16_t quote = vdupq_n_u8('"');
    const uint8x16_t backslash = vdupq_n_u8('\\');
    const uint8x16_t space = vdupq_n_u8(0x20);
    const uint8x16_t non_ascii = vdupq_n_u8(0x80);
    for (; end - begin >= 16; begin += 16) {
        const uint8x16_t bytes = vld1q_u8(reinterpret_cast<const std::uint8_t*>(begin));
        const uint8x16_t special = vorrq_u8(vorrq_u8(vceqq_u8(bytes, quote), vceqq_u8(bytes, backslash)),
                                            vorrq_u8(vcltq_u8(bytes, space), vcgeq_u8(bytes, non_ascii)));
        if (vmaxvq_u8(special) == 0) continue;
        // Four bits a byte, in order: the first set nibble is the first special byte.
        const std::uint64_t nibbles =
            vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(special), 4)), 0);
        return begin + std::countr_zero(nibbles) / 4;
    }
    return scan_plain_string_bytes(begin, end);
}

const StringScanPath all_paths[] = {{"scalar", scan_plain_string_bytes}, {"neon", scan_neon}};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }

#else
const StringScanPath all_paths[] = {{"scalar", scan_plain_string_bytes}};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }
#endif

}  // namespace

std::span<const StringScanPath> string_scan_paths() {
    static const std::span<const StringScanPath> paths = paths_this_cpu_runs();
    return paths;
}

PlainStringScan fastest_string_scan() { return string_scan_paths().back().scan; }

}  // namespace skillhook
