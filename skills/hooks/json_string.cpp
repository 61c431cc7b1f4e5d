#include "json_string.hpp"

#include "utf8_sequences.hpp"

#include <algorithm>
#include <cstddef>
#include <new>

namespace skillhook {
namespace {

bool is_leading_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_trailing_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A kept string longer than `long_string` is given room for this much at
// once. Memory the string never fills is never touched, so it costs
// address space only, while growing by doubling would copy every byte into
// fresh pages once more at each step: on a virtual machine, each fresh page
// costs microseconds.
constexpr std::size_t long_string_room = std::size_t{64} << 20;
constexpr std::size_t long_string = std::size_t{16} << 10;

// 16 for a byte that is no hexadecimal digit.
unsigned hex_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 16;
}

}  // namespace

void JsonStringReader::begin(std::string* sink, std::size_t limit) {
    sink_ = sink;
    limit_ = limit;
    overflowed_ = false;
    status_ = Status::open;
    part_ = Part::plain;
    pending_surrogate_ = 0;
}

const char* JsonStringReader::read(const char* next, const char* end) {
    while (next != end) {
        bool valid = true;
        switch (part_) {
            case Part::plain: {
                const char* const stop = scan_.plain_and_escapes(next, end);
                // Anything but another escape's backslash leaves a leading surrogate alone.
                if (pending_surrogate_ != 0 && (stop != next || *next != '\\')) emit_lone_surrogate();
                emit_run(next, stop);
                if (stop == end) return end;
                if (*stop == '"') {
                    status_ = Status::closed;
                    return stop + 1;
                }
                if (const char* after = whole_special(stop, end)) {
                    next = after;
                    break;
                }
                next = stop + 1;
                const auto byte = static_cast<unsigned char>(*stop);
                if (byte == '\\') part_ = Part::escape;
                else valid = byte >= 0x20 && begin_utf8_sequence(byte);
                break;
            }
            case Part::escape: valid = escaped(*next++); break;
            case Part::unicode_escape: valid = unicode_escape_digit(*next++); break;
            case Part::utf8_sequence: valid = continues_utf8_sequence(static_cast<unsigned char>(*next++)); break;
        }
        if (!valid) {
            status_ = Status::invalid;
            return end;
        }
    }
    return end;
}

// The common case at once: a \u escape that lies whole in this piece and is
// valid. Anything else (a piece that ends inside it, an error, a UTF-8
// sequence the scan did not pass over) is read byte by byte.
const char* JsonStringReader::whole_special(const char* special, const char* end) {
    if (end - special < 6 || special[0] != '\\' || special[1] != 'u') return nullptr;
    unsigned unit = 0;
    for (int i = 2; i < 6; ++i) {
        const unsigned digit = hex_value(special[i]);
        if (digit == 16) return nullptr;
        unit = unit * 16 + digit;
    }
    code_unit(unit);
    return special + 6;
}

bool JsonStringReader::begin_utf8_sequence(unsigned char lead) {
    const Utf8Lead sequence = utf8_lead(lead);
    if (sequence.continuations == 0) return false;
    utf8_left_ = sequence.continuations;
    utf8_low_ = sequence.low;
    utf8_high_ = sequence.high;
    emit(static_cast<char>(lead));
    part_ = Part::utf8_sequence;
    return true;
}

bool JsonStringReader::continues_utf8_sequence(unsigned char byte) {
    if (byte < utf8_low_ || byte > utf8_high_) return false;
    emit(static_cast<char>(byte));
    utf8_low_ = 0x80;
    utf8_high_ = 0xBF;
    if (--utf8_left_ == 0) part_ = Part::plain;
    return true;
}

bool JsonStringReader::escaped(char c) {
    if (c == 'u') {
        part_ = Part::unicode_escape;
        escape_digits_ = 0;
        escaped_unit_ = 0;
        return true;
    }
    const char decoded = two_byte_escape_value(c);
    if (decoded == '\0') return false;
    if (pending_surrogate_ != 0) emit_lone_surrogate();
    emit(decoded);
    part_ = Part::plain;
    return true;
}

bool JsonStringReader::unicode_escape_digit(char c) {
    const unsigned digit = hex_value(c);
    if (digit == 16) return false;
    escaped_unit_ = escaped_unit_ * 16 + digit;
    if (++escape_digits_ < 4) return true;
    part_ = Part::plain;
    code_unit(escaped_unit_);
    return true;
}

// One UTF-16 code unit from a \u escape: a surrogate pair makes one code point.
void JsonStringReader::code_unit(unsigned unit) {
    if (pending_surrogate_ != 0) {
        if (is_trailing_surrogate(unit)) {
            emit_code_point(0x10000 + ((pending_surrogate_ - 0xD800) << 10) + (unit - 0xDC00));
            pending_surrogate_ = 0;
            return;
        }
        emit_lone_surrogate();
    }
    if (is_leading_surrogate(unit)) pending_surrogate_ = unit;
    else if (is_trailing_surrogate(unit)) emit('\0');
    else emit_code_point(unit);
}

void JsonStringReader::emit_code_point(unsigned code_point) {
    char bytes[4];
    std::size_t count = 0;
    if (code_point < 0x80) {
        bytes[count++] = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        bytes[count++] = static_cast<char>(0xC0 | (code_point >> 6));
        bytes[count++] = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        bytes[count++] = static_cast<char>(0xE0 | (code_point >> 12));
        bytes[count++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        bytes[count++] = static_cast<char>(0xF0 | (code_point >> 18));
        bytes[count++] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    emit(bytes, count);
}

// A leading surrogate escape not followed by a trailing one.
void JsonStringReader::emit_lone_surrogate() {
    pending_surrogate_ = 0;
    emit('\0');
}

void JsonStringReader::emit(const char* bytes, std::size_t count) {
    if (sink_ == nullptr) return;
    if (sink_->size() + count > limit_) {
        overflowed_ = true;
        sink_ = nullptr;
        return;
    }
    make_room(sink_->size() + count);
    sink_->append(bytes, count);
}

// A run the scan passed over: plain bytes, whole UTF-8 sequences and two-byte
// escapes, decoded straight into the sink, which an escape's two bytes
// decoding as one never outgrow.
void JsonStringReader::emit_run(const char* begin, const char* end) {
    if (sink_ == nullptr || begin == end) return;
    const std::size_t kept = sink_->size();
    make_room(kept + static_cast<std::size_t>(end - begin));
    sink_->resize(kept + static_cast<std::size_t>(end - begin));
    char* const out = scan_.decode_plain_and_escapes(begin, end, sink_->data() + kept);
    sink_->resize(static_cast<std::size_t>(out - sink_->data()));
    if (sink_->size() > limit_) {
        sink_->resize(kept);
        overflowed_ = true;
        sink_ = nullptr;
    }
}

void JsonStringReader::make_room(std::size_t size) {
    if (size <= sink_->capacity() || size <= long_string) return;
    try {
        sink_->reserve(std::max(long_string_room, 2 * size));
    } catch (const std::bad_alloc&) {
        // Under a limit on address space, or where memory is committed as it
        // is reserved, the room can be refused where the string itself fits.
        sink_->reserve(2 * size);
    }
}

}  // namespace skillhook
