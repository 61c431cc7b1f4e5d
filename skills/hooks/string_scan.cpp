#include "string_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
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

// What may follow a backslash in a two-byte escape.
constexpr char escapable_bytes[] = {'"', '\\', '/', 'b', 'f', 'n', 'r', 't'};

bool is_two_byte_escape(char c) { return std::ranges::find(escapable_bytes, c) != std::end(escapable_bytes); }

const char* scan_bytes(const char* begin, const char* end) {
    while (begin != end && is_plain(*begin)) ++begin;
    return begin;
}

// Passing over escapes after a byte-by-byte search for the next byte that is not plain.
template <StringScan scan>
const char* pass_plain_and_escapes(const char* begin, const char* end) {
    for (;;) {
        begin = scan(begin, end);
        if (end - begin < 2 || *begin != '\\' || !is_two_byte_escape(begin[1])) return begin;
        begin += 2;
    }
}

// A 64-byte block, one bit a byte, in order, for the three kinds of byte
// that passing over escapes tells apart.
struct BlockMasks {
    std::uint64_t backslashes;
    std::uint64_t ends;       // quotation marks, control characters, bytes not ASCII
    std::uint64_t escapable;  // what may follow a backslash in a two-byte escape
};

constexpr std::uint64_t even_bits = 0x5555'5555'5555'5555;
constexpr std::uint64_t odd_bits = ~even_bits;

// The bytes that backslashes escape, other than backslashes themselves: in a
// run of backslashes they pair from its start, so the byte after a run of
// odd length is escaped. Adding a run's first bit carries through the run
// into the byte after it; the parities of the run's start and of that byte
// then give the parity of its length. A run up to the block's end carries
// out of the block and is left to the caller.
std::uint64_t escaped_bytes(std::uint64_t backslashes) {
    const std::uint64_t starts = backslashes & ~(backslashes << 1);
    const std::uint64_t after_even_starts = (backslashes + (starts & even_bits)) & ~backslashes;
    const std::uint64_t after_odd_starts = (backslashes + (starts & odd_bits)) & ~backslashes;
    return (after_even_starts & odd_bits) | (after_odd_starts & even_bits);
}

constexpr std::ptrdiff_t block_size = 64;

// Passes over one block with all its escapes at once, so that the time does
// not depend on how many it holds. `escaped_first` says whether the block
// before ended in a backslash that escapes this block's first byte, and is
// set so for the next block. Gives the offset of the first byte not passed
// over (-1: that backslash before the block), or the block's size.
std::ptrdiff_t pass_block(const BlockMasks& masks, std::uint64_t& escaped_first) {
    const std::uint64_t backslashes = masks.backslashes & ~escaped_first;
    const std::uint64_t escaped = escaped_bytes(backslashes) | escaped_first;
    // A backslash before any other byte begins no two-byte escape: passing stops at the backslash.
    const std::uint64_t not_two_byte = escaped & ~masks.escapable;
    if ((not_two_byte & escaped_first) != 0) return -1;
    const std::uint64_t stops = (masks.ends & ~escaped) | (not_two_byte >> 1);
    if (stops != 0) return std::countr_zero(stops);
    escaped_first = static_cast<std::uint64_t>(std::countl_one(backslashes)) & 1;
    return block_size;
}

// `all_plain` tells a block of plain bytes alone, which most blocks of most
// strings are, at the cost of a plain search, before the masks are made.
// Always inlined, so that in a caller compiled for AVX2 the AVX2 functions
// it is given are inlined too.
template <bool (*all_plain)(const char*), BlockMasks (*masks_of)(const char*), StringScan scan_rest>
[[gnu::always_inline]] inline const char* pass_plain_and_escapes_in_blocks(const char* begin, const char* end) {
    std::uint64_t escaped_first = 0;
    for (; end - begin >= block_size; begin += block_size) {
        if (escaped_first == 0 && all_plain(begin)) continue;
        if (const std::ptrdiff_t stop = pass_block(masks_of(begin), escaped_first); stop != block_size)
            return begin + stop;
    }
    // An escape across the last block's end is passed over from its backslash.
    return pass_plain_and_escapes<scan_rest>(begin - escaped_first, end);
}

#if defined(__x86_64__)
// SSE2 is part of every x86-64 CPU. Compared as signed bytes, the control
// characters and every byte of 0x80 and above are both below 0x20.
__m128i sse2_ends(__m128i bytes) {
    return _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
}

__m128i sse2_specials(__m128i bytes) {
    return _mm_or_si128(sse2_ends(bytes), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
}

__m128i sse2_load(const char* bytes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)); }

const char* scan_sse2(const char* begin, const char* end) {
    for (; end - begin >= 16; begin += 16)
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(sse2_specials(sse2_load(begin)))); mask != 0)
            return begin + std::countr_zero(mask);
    return scan_bytes(begin, end);
}

bool sse2_all_plain(const char* block) {
    __m128i any = _mm_setzero_si128();
    for (int part = 0; part < 4; ++part) any = _mm_or_si128(any, sse2_specials(sse2_load(block + 16 * part)));
    return _mm_movemask_epi8(any) == 0;
}

BlockMasks sse2_masks(const char* block) {
    BlockMasks masks{};
    for (int part = 0; part < 4; ++part) {
        const __m128i bytes = sse2_load(block + 16 * part);
        const auto bits = [&](__m128i marked) {
            return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(marked))} << (16 * part);
        };
        __m128i escapable = _mm_setzero_si128();
        for (const char c : escapable_bytes) escapable = _mm_or_si128(escapable, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
        masks.backslashes |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
        masks.ends |= bits(sse2_ends(bytes));
        masks.escapable |= bits(escapable);
    }
    return masks;
}

// Compiled for AVX2 alone and called only where the CPU reports it. The
// compiler inlines no AVX2 function into one compiled for every x86-64, so
// the AVX2 code is written out apart from the SSE2 code.
__attribute__((target("avx2"))) __m256i avx2_ends(__m256i bytes) {
    return _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('"')),
                           _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), bytes));
}

__attribute__((target("avx2"))) __m256i avx2_specials(__m256i bytes) {
    return _mm256_or_si256(avx2_ends(bytes), _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\\')));
}

__attribute__((target("avx2"))) __m256i avx2_load(const char* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

__attribute__((target("avx2"))) const char* scan_avx2(const char* begin, const char* end) {
    for (; end - begin >= 32; begin += 32)
        if (const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(avx2_specials(avx2_load(begin)))); mask != 0)
            return begin + std::countr_zero(mask);
    return scan_sse2(begin, end);
}

__attribute__((target("avx2"))) bool avx2_all_plain(const char* block) {
    return _mm256_testz_si256(_mm256_or_si256(avx2_specials(avx2_load(block)), avx2_specials(avx2_load(block + 32))),
                              _mm256_set1_epi8(-1)) != 0;
}

__attribute__((target("avx2"))) std::uint64_t avx2_bits(__m256i marked, int half) {
    return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(marked))} << (32 * half);
}

__attribute__((target("avx2"))) BlockMasks avx2_masks(const char* block) {
    BlockMasks masks{};
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = avx2_load(block + 32 * half);
        __m256i escapable = _mm256_setzero_si256();
        for (const char c : escapable_bytes)
            escapable = _mm256_or_si256(escapable, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c)));
        masks.backslashes |= avx2_bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\\')), half);
        masks.ends |= avx2_bits(avx2_ends(bytes), half);
        masks.escapable |= avx2_bits(escapable, half);
    }
    return masks;
}

__attribute__((target("avx2"))) const char* pass_avx2(const char* begin, const char* end) {
    return pass_plain_and_escapes_in_blocks<avx2_all_plain, avx2_masks, scan_sse2>(begin, end);
}

// AVX2, and an operating system that saves the wide registers (OSXSAVE, and
// the SSE and AVX states enabled in XCR0). Asked of the CPU itself: not every
// toolchain's run-time library answers __builtin_cpu_supports. Each cpuid
// leaves a virtual machine for the hypervisor (some microseconds), so only
// two are asked: leaf 1, and leaf 7, which every CPU with AVX has.
__attribute__((target("xsave"))) bool cpu_runs_avx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    constexpr unsigned long long sse_and_avx_state = 0x6;
    if ((static_cast<unsigned long long>(_xgetbv(0)) & sse_and_avx_state) != sse_and_avx_state) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & bit_AVX2) != 0;
}

const StringScanPath all_paths[] = {
    {"scalar", scan_bytes, pass_plain_and_escapes<scan_bytes>},
    {"sse2", scan_sse2, pass_plain_and_escapes_in_blocks<sse2_all_plain, sse2_masks, scan_bytes>},
    {"avx2", scan_avx2, pass_avx2},
};

std::span<const StringScanPath> paths_this_cpu_runs() {
    const std::span<const StringScanPath> all(all_paths);
    return cpu_runs_avx2() ? all : all.first(2);
}

#elif defined(__aarch64__)
// NEON is part of every 64-bit ARM CPU.
uint8x16_t neon_ends(uint8x16_t bytes) {
    return vorrq_u8(vceqq_u8(bytes, vdupq_n_u8('"')),
                    vorrq_u8(vcltq_u8(bytes, vdupq_n_u8(0x20)), vcgeq_u8(bytes, vdupq_n_u8(0x80))));
}

uint8x16_t neon_specials(uint8x16_t bytes) { return vorrq_u8(neon_ends(bytes), vceqq_u8(bytes, vdupq_n_u8('\\'))); }

uint8x16_t neon_load(const char* bytes) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(bytes)); }

const char* scan_neon(const char* begin, const char* end) {
    for (; end - begin >= 16; begin += 16) {
        const uint8x16_t special = neon_specials(neon_load(begin));
        if (vmaxvq_u8(special) == 0) continue;
        // Four bits a byte, in order: the first set nibble is the first special byte.
        const std::uint64_t nibbles =
            vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(special), 4)), 0);
        return begin + std::countr_zero(nibbles) / 4;
    }
    return scan_bytes(begin, end);
}

// One bit a byte from four vectors of marked bytes: each byte keeps the bit
// of its place among eight, and pairwise sums gather eight bytes into one.
std::uint64_t neon_bits(const uint8x16_t (&marked)[4]) {
    static constexpr std::uint8_t places[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t place = vld1q_u8(places);
    const uint8x16_t first = vpaddq_u8(vandq_u8(marked[0], place), vandq_u8(marked[1], place));
    const uint8x16_t second = vpaddq_u8(vandq_u8(marked[2], place), vandq_u8(marked[3], place));
    const uint8x16_t quarters = vpaddq_u8(first, second);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(quarters, quarters)), 0);
}

bool neon_all_plain(const char* block) {
    uint8x16_t any = vdupq_n_u8(0);
    for (int part = 0; part < 4; ++part) any = vorrq_u8(any, neon_specials(neon_load(block + 16 * part)));
    return vmaxvq_u8(any) == 0;
}

BlockMasks neon_masks(const char* block) {
    uint8x16_t backslashes[4], ends[4], escapable[4];
    for (int part = 0; part < 4; ++part) {
        const uint8x16_t bytes = neon_load(block + 16 * part);
        backslashes[part] = vceqq_u8(bytes, vdupq_n_u8('\\'));
        ends[part] = neon_ends(bytes);
        escapable[part] = vdupq_n_u8(0);
        for (const char c : escapable_bytes)
            escapable[part] = vorrq_u8(escapable[part], vceqq_u8(bytes, vdupq_n_u8(static_cast<std::uint8_t>(c))));
    }
    return {neon_bits(backslashes), neon_bits(ends), neon_bits(escapable)};
}

const StringScanPath all_paths[] = {
    {"scalar", scan_bytes, pass_plain_and_escapes<scan_bytes>},
    {"neon", scan_neon, pass_plain_and_escapes_in_blocks<neon_all_plain, neon_masks, scan_bytes>},
};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }

#else
const StringScanPath all_paths[] = {{"scalar", scan_bytes, pass_plain_and_escapes<scan_bytes>}};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }
#endif

}  // namespace

std::span<const StringScanPath> string_scan_paths() {
    static const std::span<const StringScanPath> paths = paths_this_cpu_runs();
    return paths;
}

const StringScanPath& fastest_string_scan() { return string_scan_paths().back(); }

}  // namespace skillhook
