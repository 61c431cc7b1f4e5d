#include "string_scan.hpp"

#include "utf8_sequences.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace skillhook {
namespace {

bool is_plain_ascii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

bool is_ascii(char c) { return static_cast<unsigned char>(c) < 0x80; }

// What may follow a backslash in a two-byte escape, and what each escape decodes as.
constexpr char escapable_bytes[] = {'"', '\\', '/', 'b', 'f', 'n', 'r', 't'};
constexpr char escaped_values[] = {'"', '\\', '/', '\b', '\f', '\n', '\r', '\t'};

// The same by the byte after the backslash, one look-up for the decoding loops.
constexpr auto escape_values_by_byte = [] {
    std::array<char, 256> values{};
    for (std::size_t i = 0; i < std::size(escapable_bytes); ++i)
        values[static_cast<unsigned char>(escapable_bytes[i])] = escaped_values[i];
    return values;
}();

constexpr bool is_two_byte_escape(char c) {
    return std::ranges::find(escapable_bytes, c) != std::end(escapable_bytes);
}

// The same set for table lookups by a byte's two halves: a byte may follow a
// backslash exactly when the entries for its high and its low half share a
// bit. Each bit stands for one high half: 1 for 0x2_ (the quotation mark and
// the slash), 2 for 0x5_ (the backslash), 4 for 0x6_ (b f n), 8 for 0x7_
// (r t); a low half holds the bits of the high halves it completes into one
// of those bytes.
constexpr std::uint8_t escapable_by_high_half[16] = {0, 0, 1, 0, 0, 2, 4, 8, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t escapable_by_low_half[16] = {0, 0, 1 | 4 | 8, 0, 8, 0, 4, 0, 0, 0, 0, 0, 2, 0, 4, 1};

constexpr bool escapable_by_halves(unsigned char byte) {
    return (escapable_by_high_half[byte >> 4] & escapable_by_low_half[byte & 0x0F]) != 0;
}

static_assert([] {
    for (unsigned byte = 0; byte < 256; ++byte)
        if (escapable_by_halves(static_cast<unsigned char>(byte)) != is_two_byte_escape(static_cast<char>(byte)))
            return false;
    return true;
}());

// The first byte that is not plain ASCII, one at a time.
const char* find_bytes(const char* begin, const char* end) {
    while (begin != end && is_plain_ascii(*begin)) ++begin;
    return begin;
}

// Passing over whole UTF-8 sequences after a search for the next byte that is not plain ASCII.
template <StringScan find_not_plain_ascii>
const char* pass_sequences(const char* begin, const char* end) {
    for (;;) {
        begin = find_not_plain_ascii(begin, end);
        if (begin == end || is_ascii(*begin)) return begin;
        const std::size_t size = whole_sequence_length(begin, end);
        if (size == 0) return begin;
        begin += size;
    }
}

// Passing over escapes after a search for the next byte that is not plain.
template <StringScan scan>
const char* pass_plain_and_escapes(const char* begin, const char* end) {
    for (;;) {
        begin = scan(begin, end);
        if (end - begin < 2 || *begin != '\\' || !is_two_byte_escape(begin[1])) return begin;
        begin += 2;
    }
}

// Decoding a run the scan passed over, one byte at a time.
char* decode_bytes(const char* begin, const char* end, char* out) {
    while (begin != end) {
        const char c = *begin++;
        *out++ = c == '\\' ? two_byte_escape_value(*begin++) : c;
    }
    return out;
}

constexpr std::ptrdiff_t block_size = 64;

// A 64-byte block, one bit a byte, in order: the ASCII bytes that are not
// plain, and the bytes not ASCII, which only UTF-8 validation tells apart.
struct BlockBits {
    std::uint64_t backslashes;
    std::uint64_t ends;  // quotation marks, control characters
    std::uint64_t non_ascii;
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

// Passes over one block with all its escapes at once, so that the time does
// not depend on how many it holds. `escapable` marks what may follow a
// backslash in a two-byte escape. `escaped_first` says whether the block
// before ended in a backslash that escapes this block's first byte, and is
// set so for the next block. Gives the offset of the first byte not passed
// over (-1: that backslash before the block), or the block's size.
[[gnu::always_inline]] inline std::ptrdiff_t pass_block(const BlockBits& bits, std::uint64_t escapable,
                                                        std::uint64_t& escaped_first) {
    const std::uint64_t backslashes = bits.backslashes & ~escaped_first;
    const std::uint64_t escaped = escaped_bytes(backslashes) | escaped_first;
    // A backslash before any other byte begins no two-byte escape: passing stops at the backslash.
    const std::uint64_t not_two_byte = escaped & ~escapable;
    if ((not_two_byte & escaped_first) != 0) return -1;
    const std::uint64_t stops = (bits.ends & ~escaped) | (not_two_byte >> 1);
    if (stops != 0) return std::countr_zero(stops);
    escaped_first = static_cast<std::uint64_t>(std::countl_one(backslashes)) & 1;
    return block_size;
}

// The bits of the bytes before offset `stop` of a block.
std::uint64_t bytes_before(std::ptrdiff_t stop) {
    return stop == block_size ? ~std::uint64_t{0} : (std::uint64_t{1} << stop) - 1;
}

// Where the character that holds a block's first byte begins: before the
// block when the block before ended in a byte not ASCII (`may_continue`)
// and a sequence that byte belongs to goes on into this block.
const char* character_start(const char* block, bool may_continue) {
    return block - (may_continue ? unfinished_tail(block) : 0);
}

// Decoding a run the scan passed over 64 bytes at a time, its escapes found
// in the block's mask of backslashes (`backslashes_of`) rather than by one
// search each. The bytes up to each escape, at most a block's worth, are
// copied as a whole block every time, the next copy overwriting what was
// not theirs: a copy as long as the text between two escapes kept the
// branch predictor missing about once an escape. The output never gets
// ahead of the input, and the blocks stop a block before the run's end, so
// every read and write stays within the run and its room.
template <std::uint64_t (*backslashes_of)(const char*)>
char* decode_in_blocks(const char* begin, const char* end, char* out) {
    std::ptrdiff_t escaped_first = 0;  // the block's first byte belongs to an escape before it
    for (; end - begin >= 2 * block_size; begin += block_size) {
        std::uint64_t backslashes = backslashes_of(begin) & ~static_cast<std::uint64_t>(escaped_first);
        std::ptrdiff_t next = escaped_first;
        while (backslashes != 0) {
            const std::ptrdiff_t at = std::countr_zero(backslashes);
            std::memcpy(out, begin + next, block_size);
            out += at - next;
            *out++ = two_byte_escape_value(begin[at + 1]);
            next = at + 2;
            backslashes &= ~(std::uint64_t{3} << at);  // this backslash and the byte it escapes
        }
        escaped_first = next > block_size ? 1 : 0;
        if (next < block_size) {
            std::memcpy(out, begin + next, block_size);
            out += block_size - next;
        }
    }
    return decode_bytes(begin + escaped_first, end, out);
}

// Vector validation compares every byte with the one, two and three before
// it. Each bit below names one way a pair of neighbouring bytes goes wrong; a
// pair is wrong when the tables for the high and the low half of the first
// byte and for the high half of the second all hold one bit.
constexpr std::uint8_t too_short = 1 << 0;         // a first byte, then no continuation byte
constexpr std::uint8_t too_long = 1 << 1;          // ASCII, then a continuation byte
constexpr std::uint8_t overlong_3 = 1 << 2;        // E0, then 80..9F
constexpr std::uint8_t too_large = 1 << 3;         // F4..FF, then 90..BF
constexpr std::uint8_t surrogate = 1 << 4;         // ED, then A0..BF
constexpr std::uint8_t overlong_2 = 1 << 5;        // C0 or C1, then a continuation byte
constexpr std::uint8_t overlong_4_or_large = 1 << 6;  // F0 or F5..FF, then 80..8F
// Two continuation bytes: wrong but for a sequence's third and fourth bytes,
// which the bytes two and three before tell.
constexpr std::uint8_t two_continuations = 1 << 7;
constexpr std::uint8_t any_second = too_short | too_long | two_continuations;

constexpr std::uint8_t first_high_table[16] = {
    too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long,
    two_continuations, two_continuations, two_continuations, two_continuations,
    too_short | overlong_2, too_short, too_short | overlong_3 | surrogate,
    too_short | too_large | overlong_4_or_large};
constexpr std::uint8_t first_low_table[16] = {
    any_second | overlong_2 | overlong_3 | overlong_4_or_large, any_second | overlong_2, any_second, any_second,
    any_second | too_large, any_second | too_large | overlong_4_or_large,
    any_second | too_large | overlong_4_or_large, any_second | too_large | overlong_4_or_large,
    any_second | too_large | overlong_4_or_large, any_second | too_large | overlong_4_or_large,
    any_second | too_large | overlong_4_or_large, any_second | too_large | overlong_4_or_large,
    any_second | too_large | overlong_4_or_large, any_second | too_large | overlong_4_or_large | surrogate,
    any_second | too_large | overlong_4_or_large, any_second | too_large | overlong_4_or_large};
constexpr std::uint8_t second_high_table[16] = {
    too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
    too_long | overlong_2 | two_continuations | overlong_3 | overlong_4_or_large,
    too_long | overlong_2 | two_continuations | overlong_3 | too_large,
    too_long | overlong_2 | two_continuations | surrogate | too_large,
    too_long | overlong_2 | two_continuations | surrogate | too_large,
    too_short, too_short, too_short, too_short};
// A byte two after E0..FF or three after F0..FF must be a continuation
// byte: less these bounds, just those keep their high bit.
constexpr std::uint8_t third_byte_bound = 0xE0 - 0x80;
constexpr std::uint8_t fourth_byte_bound = 0xF0 - 0x80;

// Passes over plain bytes, whole UTF-8 sequences and escapes, 64 bytes at a
// time: `bits_of` marks a block's bytes, `escapable_of` those that may follow
// a backslash (asked only of a block with backslashes or ends), and
// `utf8_valid` validates a block that holds bytes not ASCII. A block that
// fails validation, and the last bytes, too few for a block, are left to
// `pass_rest`, from the last character boundary before them. Always inlined,
// so that in a caller compiled for AVX2 the AVX2 functions it is given are
// inlined too.
template <BlockBits (*bits_of)(const char*), std::uint64_t (*escapable_of)(const char*),
          bool (*utf8_valid)(const char*, std::ptrdiff_t, bool), StringScan pass_rest>
[[gnu::always_inline]] inline const char* pass_in_blocks(const char* begin, const char* end) {
    constexpr StringScan rest = pass_plain_and_escapes<pass_rest>;
    std::uint64_t escaped_first = 0;
    // The block before ended in a byte not ASCII, so that a sequence may go
    // on into this block. Where that sequence begins is asked only when
    // passing stops: a block's end falls anywhere in a sequence, and no
    // branch predicts where.
    bool may_continue = false;
    for (; end - begin >= block_size; begin += block_size) {
        const BlockBits bits = bits_of(begin);
        const std::uint64_t escaped_before = escaped_first;
        std::ptrdiff_t stop = block_size;
        if ((bits.backslashes | bits.ends | escaped_first) != 0) {
            stop = pass_block(bits, escapable_of(begin), escaped_first);
            if (stop < 0) return begin + stop;
        }
        if ((may_continue || (bits.non_ascii & bytes_before(stop)) != 0) && !utf8_valid(begin, stop, may_continue))
            return rest(character_start(begin, may_continue) - static_cast<std::ptrdiff_t>(escaped_before), end);
        if (stop != block_size) return begin + stop;
        may_continue = (bits.non_ascii >> (block_size - 1)) != 0;
    }
    // An escape across the last block's end is passed over from its backslash.
    return rest(character_start(begin, may_continue) - static_cast<std::ptrdiff_t>(escaped_first), end);
}

#if defined(__x86_64__)
// SSE2 is part of every x86-64 CPU. Compared as signed bytes, the control
// characters and every byte of 0x80 and above are both below 0x20.
__m128i sse2_ends(__m128i bytes) {
    return _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
}

__m128i sse2_not_plain_ascii(__m128i bytes) {
    return _mm_or_si128(sse2_ends(bytes), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
}

// Validates the UTF-8 of a block's first `length` bytes, which may continue a
// sequence the block before began when that one ended in a byte not ASCII
// (`may_continue`); every sequence must end within them, but for a whole
// block, whose last sequence may go on into the next. Byte by byte: SSE2 has
// no table lookup.
bool bytewise_utf8_valid(const char* block, std::ptrdiff_t length, bool may_continue) {
    const std::ptrdiff_t tail = length == block_size ? unfinished_tail(block + block_size) : 0;
    const char* const end = block + length - tail;
    for (const char* next = character_start(block, may_continue); next < end;) {
        if (is_ascii(*next)) {
            ++next;
            continue;
        }
        const std::size_t size = whole_sequence_length(next, end);
        if (size == 0) return false;
        next += size;
    }
    return tail == 0 || begins_sequence(end, tail);
}

__m128i sse2_load(const char* bytes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)); }

std::uint64_t sse2_bits(__m128i marked, int part) {
    return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(marked))} << (16 * part);
}

const char* find_sse2(const char* begin, const char* end) {
    for (; end - begin >= 16; begin += 16)
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(sse2_not_plain_ascii(sse2_load(begin))));
            mask != 0)
            return begin + std::countr_zero(mask);
    return find_bytes(begin, end);
}

std::uint64_t sse2_backslashes(const char* block) {
    std::uint64_t bits = 0;
    for (int part = 0; part < 4; ++part)
        bits |= sse2_bits(_mm_cmpeq_epi8(sse2_load(block + 16 * part), _mm_set1_epi8('\\')), part);
    return bits;
}

BlockBits sse2_block_bits(const char* block) {
    BlockBits bits{};
    for (int part = 0; part < 4; ++part) {
        const __m128i bytes = sse2_load(block + 16 * part);
        bits.backslashes |= sse2_bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')), part);
        bits.ends |= sse2_bits(_mm_andnot_si128(_mm_cmplt_epi8(bytes, _mm_setzero_si128()), sse2_ends(bytes)), part);
        bits.non_ascii |= sse2_bits(bytes, part);
    }
    return bits;
}

// SSE2 has no table lookup: a comparison for each byte that may follow a backslash.
std::uint64_t sse2_escapable(const char* block) {
    std::uint64_t bits = 0;
    for (int part = 0; part < 4; ++part) {
        const __m128i bytes = sse2_load(block + 16 * part);
        __m128i escapable = _mm_setzero_si128();
        for (const char c : escapable_bytes) escapable = _mm_or_si128(escapable, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
        bits |= sse2_bits(escapable, part);
    }
    return bits;
}

// Compiled for AVX2 alone and called only where the CPU reports it. The
// compiler inlines no AVX2 function into one compiled for every x86-64, so
// the AVX2 code is written out apart from the SSE2 code.
__attribute__((target("avx2"))) __m256i avx2_load(const char* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

__attribute__((target("avx2"))) __m256i avx2_ends(__m256i bytes) {
    const __m256i controls = _mm256_andnot_si256(_mm256_cmpgt_epi8(_mm256_setzero_si256(), bytes),
                                                 _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), bytes));
    return _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('"')), controls);
}

__attribute__((target("avx2"))) std::uint64_t avx2_bits(__m256i marked, int half) {
    return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(marked))} << (32 * half);
}

__attribute__((target("avx2"))) BlockBits avx2_block_bits(const char* block) {
    BlockBits bits{};
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = avx2_load(block + 32 * half);
        bits.backslashes |= avx2_bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\\')), half);
        bits.ends |= avx2_bits(avx2_ends(bytes), half);
        bits.non_ascii |= avx2_bits(bytes, half);
    }
    return bits;
}

__attribute__((target("avx2"))) __m256i avx2_lookup(const std::uint8_t (&table)[16], __m256i nibbles) {
    const __m256i both_lanes = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
    return _mm256_shuffle_epi8(both_lanes, nibbles);
}

__attribute__((target("avx2"))) __m256i avx2_high_halves(__m256i bytes) {
    return _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
}

__attribute__((target("avx2"))) std::uint64_t avx2_escapable(const char* block) {
    std::uint64_t bits = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = avx2_load(block + 32 * half);
        // A byte of 0x80 or above looks up NUL by its low half.
        const __m256i tables = _mm256_and_si256(avx2_lookup(escapable_by_high_half, avx2_high_halves(bytes)),
                                                avx2_lookup(escapable_by_low_half, bytes));
        bits |= avx2_bits(_mm256_cmpgt_epi8(tables, _mm256_setzero_si256()), half);
    }
    return bits;
}

// The bytes that break UTF-8 (any bit set) among 32, given the 32 before them.
__attribute__((target("avx2"))) __m256i avx2_utf8_errors(__m256i bytes, __m256i before) {
    // The last half of `before` and the first of `bytes`: shifting across the two lanes.
    const __m256i across = _mm256_permute2x128_si256(before, bytes, 0x21);
    const __m256i one_before = _mm256_alignr_epi8(bytes, across, 15);
    const __m256i two_before = _mm256_alignr_epi8(bytes, across, 14);
    const __m256i three_before = _mm256_alignr_epi8(bytes, across, 13);
    const __m256i pairs = _mm256_and_si256(
        _mm256_and_si256(avx2_lookup(first_high_table, avx2_high_halves(one_before)),
                         avx2_lookup(first_low_table, _mm256_and_si256(one_before, _mm256_set1_epi8(0x0F)))),
        avx2_lookup(second_high_table, avx2_high_halves(bytes)));
    const __m256i must_continue =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(two_before, _mm256_set1_epi8(third_byte_bound)),
                                         _mm256_subs_epu8(three_before, _mm256_set1_epi8(fourth_byte_bound))),
                         _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(pairs, must_continue);
}

// As bytewise_utf8_valid; the bytes from `length` on read as NUL, which ends
// any sequence before them.
__attribute__((target("avx2"))) bool avx2_utf8_valid(const char* block, std::ptrdiff_t length,
                                                     bool may_continue) {
    const __m256i offsets = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    __m256i before = may_continue ? avx2_load(block - 32) : _mm256_setzero_si256();
    __m256i errors = _mm256_setzero_si256();
    for (int half = 0; half < 2; ++half) {
        __m256i bytes = avx2_load(block + 32 * half);
        if (length != block_size) {
            const auto kept = static_cast<char>(length - 32 * half);
            bytes = _mm256_and_si256(bytes, _mm256_cmpgt_epi8(_mm256_set1_epi8(kept), offsets));
        }
        errors = _mm256_or_si256(errors, avx2_utf8_errors(bytes, before));
        before = bytes;
    }
    return _mm256_testz_si256(errors, errors) != 0;
}

__attribute__((target("avx2"))) const char* pass_avx2(const char* begin, const char* end) {
    return pass_in_blocks<avx2_block_bits, avx2_escapable, avx2_utf8_valid, pass_sequences<find_sse2>>(begin, end);
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
    {"scalar", pass_plain_and_escapes<pass_sequences<find_bytes>>, decode_bytes},
    {"sse2", pass_in_blocks<sse2_block_bits, sse2_escapable, bytewise_utf8_valid, pass_sequences<find_sse2>>,
     decode_in_blocks<sse2_backslashes>},
    {"avx2", pass_avx2, decode_in_blocks<sse2_backslashes>},
};

std::span<const StringScanPath> paths_this_cpu_runs() {
    const std::span<const StringScanPath> all(all_paths);
    return cpu_runs_avx2() ? all : all.first(2);
}

#elif defined(__aarch64__)
// NEON is part of every 64-bit ARM CPU.
uint8x16_t neon_ends(uint8x16_t bytes) {
    return vorrq_u8(vceqq_u8(bytes, vdupq_n_u8('"')), vcltq_u8(bytes, vdupq_n_u8(0x20)));
}

uint8x16_t neon_specials(uint8x16_t bytes) { return vorrq_u8(neon_ends(bytes), vceqq_u8(bytes, vdupq_n_u8('\\'))); }

uint8x16_t neon_non_ascii(uint8x16_t bytes) { return vcgeq_u8(bytes, vdupq_n_u8(0x80)); }

uint8x16_t neon_load(const char* bytes) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(bytes)); }

const char* find_neon(const char* begin, const char* end) {
    for (; end - begin >= 16; begin += 16) {
        const uint8x16_t bytes = neon_load(begin);
        const uint8x16_t special = vorrq_u8(neon_specials(bytes), neon_non_ascii(bytes));
        if (vmaxvq_u8(special) == 0) continue;
        // Four bits a byte, in order: the first set nibble is the first special byte.
        const std::uint64_t nibbles =
            vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(special), 4)), 0);
        return begin + std::countr_zero(nibbles) / 4;
    }
    return find_bytes(begin, end);
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

std::uint64_t neon_backslashes(const char* block) {
    uint8x16_t backslashes[4];
    for (int part = 0; part < 4; ++part) backslashes[part] = vceqq_u8(neon_load(block + 16 * part), vdupq_n_u8('\\'));
    return neon_bits(backslashes);
}

BlockBits neon_block_bits(const char* block) {
    uint8x16_t backslashes[4], ends[4], non_ascii[4];
    for (int part = 0; part < 4; ++part) {
        const uint8x16_t bytes = neon_load(block + 16 * part);
        backslashes[part] = vceqq_u8(bytes, vdupq_n_u8('\\'));
        ends[part] = neon_ends(bytes);
        non_ascii[part] = neon_non_ascii(bytes);
    }
    return {neon_bits(backslashes), neon_bits(ends), neon_bits(non_ascii)};
}

std::uint64_t neon_escapable(const char* block) {
    uint8x16_t escapable[4];
    for (int part = 0; part < 4; ++part) {
        const uint8x16_t bytes = neon_load(block + 16 * part);
        escapable[part] = vtstq_u8(vqtbl1q_u8(vld1q_u8(escapable_by_high_half), vshrq_n_u8(bytes, 4)),
                                   vqtbl1q_u8(vld1q_u8(escapable_by_low_half), vandq_u8(bytes, vdupq_n_u8(0x0F))));
    }
    return neon_bits(escapable);
}

// The bytes that break UTF-8 (any bit set) among 16, given the 16 before them.
uint8x16_t neon_utf8_errors(uint8x16_t bytes, uint8x16_t before) {
    const uint8x16_t one_before = vextq_u8(before, bytes, 15);
    const uint8x16_t two_before = vextq_u8(before, bytes, 14);
    const uint8x16_t three_before = vextq_u8(before, bytes, 13);
    const uint8x16_t pairs =
        vandq_u8(vandq_u8(vqtbl1q_u8(vld1q_u8(first_high_table), vshrq_n_u8(one_before, 4)),
                          vqtbl1q_u8(vld1q_u8(first_low_table), vandq_u8(one_before, vdupq_n_u8(0x0F)))),
                 vqtbl1q_u8(vld1q_u8(second_high_table), vshrq_n_u8(bytes, 4)));
    const uint8x16_t must_continue = vandq_u8(vorrq_u8(vqsubq_u8(two_before, vdupq_n_u8(third_byte_bound)),
                                                       vqsubq_u8(three_before, vdupq_n_u8(fourth_byte_bound))),
                                              vdupq_n_u8(0x80));
    return veorq_u8(pairs, must_continue);
}

// As bytewise_utf8_valid on x86; the bytes from `length` on read as NUL,
// which ends any sequence before them.
bool neon_utf8_valid(const char* block, std::ptrdiff_t length, bool may_continue) {
    static constexpr std::uint8_t offsets[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    uint8x16_t before = may_continue ? neon_load(block - 16) : vdupq_n_u8(0);
    uint8x16_t errors = vdupq_n_u8(0);
    for (int part = 0; part < 4; ++part) {
        uint8x16_t bytes = neon_load(block + 16 * part);
        if (length != block_size) {
            const auto kept = static_cast<std::uint8_t>(std::clamp<std::ptrdiff_t>(length - 16 * part, 0, 16));
            bytes = vandq_u8(bytes, vcltq_u8(vld1q_u8(offsets), vdupq_n_u8(kept)));
        }
        errors = vorrq_u8(errors, neon_utf8_errors(bytes, before));
        before = bytes;
    }
    return vmaxvq_u8(errors) == 0;
}

const StringScanPath all_paths[] = {
    {"scalar", pass_plain_and_escapes<pass_sequences<find_bytes>>, decode_bytes},
    {"neon", pass_in_blocks<neon_block_bits, neon_escapable, neon_utf8_valid, pass_sequences<find_neon>>,
     decode_in_blocks<neon_backslashes>},
};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }

#else
const StringScanPath all_paths[] = {{"scalar", pass_plain_and_escapes<pass_sequences<find_bytes>>, decode_bytes}};

std::span<const StringScanPath> paths_this_cpu_runs() { return all_paths; }
#endif

}  // namespace

char two_byte_escape_value(char c) { return escape_values_by_byte[static_cast<unsigned char>(c)]; }

std::span<const StringScanPath> string_scan_paths() {
    static const std::span<const StringScanPath> paths = paths_this_cpu_runs();
    return paths;
}

const StringScanPath& fastest_string_scan() { return string_scan_paths().back(); }

}  // namespace skillhook
