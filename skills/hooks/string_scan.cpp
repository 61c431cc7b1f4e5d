#include "string_scan.hpp"

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

bool is_two_byte_escape(char c) {
    switch (c) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't': return true;
        default: return false;
    }
}

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

// Where passing over a block ends: at a byte it does not pass over
// (`stopped`), or at the start of the next block.
struct BlockPass {
    const char* next;
    bool stopped;
};

// The same a block at a time: `specials` marks the bytes of one block that
// are not plain, Blocks::bits_per_byte bits each, in order, and every escape
// in the block is passed over from that one mark.
template <class Blocks, class Mask>
BlockPass pass_block(const char* block, const char* end, Mask specials) {
    constexpr unsigned bits = Blocks::bits_per_byte;
    while (specials != 0) {
        const auto index = static_cast<unsigned>(std::countr_zero(specials)) / bits;
        const char* const special = block + index;
        if (*special != '\\' || end - special < 2 || !is_two_byte_escape(special[1])) return {special, true};
        // An escape of the block's last byte and the next block's first.
        if (index + 1 == Blocks::size) return {block + Blocks::size + 1, false};
        specials &= ~(((Mask{1} << (2 * bits)) - 1) << (index * bits));
    }
    return {block + Blocks::size, false};
}

template <class Blocks>
const char* pass_plain_and_escapes_in_blocks(const char* begin, const char* end) {
    while (end - begin >= Blocks::size) {
        const BlockPass pass = pass_block<Blocks>(begin, end, Blocks::specials(begin));
        if (pass.stopped) return pass.next;
        begin = pass.next;
    }
    return pass_plain_and_escapes<scan_bytes>(begin, end);
}

#if defined(__x86_64__)
// SSE2 is part of every x86-64 CPU. Compared as signed bytes, the control
// characters and every byte of 0x80 and above are both below 0x20.
struct Sse2Blocks {
    static constexpr std::ptrdiff_t size = 16;
    static constexpr unsigned bits_per_byte = 1;
    static std::uint32_t specials(const char* block) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
            _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(special));
    }
};

const char* scan_sse2(const char* begin, const char* end) {
    for (; end - begin >= Sse2Blocks::size; begin += Sse2Blocks::size)
        if (const std::uint32_t mask = Sse2Blocks::specials(begin); mask != 0) return begin + std::countr_zero(mask);
    return scan_bytes(begin, end);
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

// Two vectors a block: the loop's exit, mispredicted once a block, is paid
// once every 64 bytes.
struct Avx2Blocks {
    static constexpr std::ptrdiff_t size = 64;
    static constexpr unsigned bits_per_byte = 1;
};

__attribute__((target("avx2"))) std::uint32_t avx2_specials(const char* half) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(half));
    const __m256i special = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\\'))),
        _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), bytes));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(special));
}

// The loop of pass_plain_and_escapes_in_blocks, written out so that the
// compiler keeps the vector code inline: it inlines no AVX2 function into
// one compiled for every x86-64.
__attribute__((target("avx2"))) const char* pass_avx2(const char* begin, const char* end) {
    while (end - begin >= Avx2Blocks::size) {
        const std::uint64_t specials = avx2_specials(begin) | std::uint64_t{avx2_specials(begin + 32)} << 32;
        const BlockPass pass = pass_block<Avx2Blocks>(begin, end, specials);
        if (pass.stopped) return pass.next;
        begin = pass.next;
    }
    return pass_plain_and_escapes<scan_sse2>(begin, end);
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
    {"sse2", scan_sse2, pass_plain_and_escapes_in_blocks<Sse2Blocks>},
    {"avx2", scan_avx2, pass_avx2},
};

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
    return scan_bytes(begin, end);
}

struct NeonBlocks {
    static constexpr std::ptrdiff_t size = 16;
    static constexpr unsigned bits_per_byte = 4;
    static std::uint64_t specials(const char* block) {
        const uint8x16_t bytes = vld1q_u8(reinterpret_cast<const std::uint8_t*>(block));
        const uint8x16_t special =
            vorrq_u8(vorrq_u8(vceqq_u8(bytes, vdupq_n_u8('"')), vceqq_u8(bytes, vdupq_n_u8('\\'))),
                     vorrq_u8(vcltq_u8(bytes, vdupq_n_u8(0x20)), vcgeq_u8(bytes, vdupq_n_u8(0x80))));
        // Four bits a byte, in order.
        return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(special), 4)), 0);
    }
};

const StringScanPath all_paths[] = {
    {"scalar", scan_bytes, pass_plain_and_escapes<scan_bytes>},
    {"neon", scan_neon, pass_plain_and_escapes_in_blocks<NeonBlocks>},
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
