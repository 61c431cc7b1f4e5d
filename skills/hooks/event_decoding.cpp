// The RFC 8259 grammar as a state machine over bytes, which carries its state
// from one piece of the text to the next. Nothing recurses: the open
// containers are one bit a level, so the deepest nesting allowed costs
// 125 KB and no stack. Every string escape decodes, a lone UTF-16 surrogate
// to NUL, and an exponent is only grammar, whatever its size: no value
// grammatical text can hold is refused.
#include "event_decoder.hpp"

#include "event_keeping.hpp"
#include "json_string.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace skillhook {
namespace {

// RFC 8259 lets a decoder bound the depth.
constexpr std::size_t max_depth = 1'000'000;

// The kinds of the open containers, one bit each (set: object).
class ContainerStack {
public:
    std::size_t depth() const { return depth_; }
    // False when the container would be deeper than max_depth.
    bool push(bool object) {
        if (depth_ == max_depth) return false;
        if (depth_ / 64 == words_.size()) words_.push_back(0);
        const std::uint64_t bit = std::uint64_t{1} << (depth_ % 64);
        words_[depth_ / 64] = object ? words_[depth_ / 64] | bit : words_[depth_ / 64] & ~bit;
        ++depth_;
        return true;
    }
    void pop() { --depth_; }
    // Whether the innermost open container, of which there must be one, is an object.
    bool top_is_object() const { return ((words_[(depth_ - 1) / 64] >> ((depth_ - 1) % 64)) & 1) != 0; }

private:
    std::vector<std::uint64_t> words_;
    std::size_t depth_ = 0;
};

// What may come next outside a string, number or literal.
enum class Expect : unsigned char { value, value_or_end, key, key_or_end, colon, comma_or_end, nothing };
// The token being read, or none; failed once the text cannot be JSON.
enum class Token : unsigned char { none, string, number, literal, failed };
enum class NumberPart : unsigned char { minus, zero, integer, point, fraction, exponent_mark, exponent_sign, exponent };

bool is_json_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

class EventDecoder::Grammar {
public:
    explicit Grammar(const StringScanPath& scan) : string_(scan) {}

    void feed(std::string_view piece) {
        const char* next = piece.data();
        const char* const end = next + piece.size();
        while (next != end) {
            switch (token_) {
                case Token::none: next = between_tokens(next, end); break;
                case Token::string: next = in_string(next, end); break;
                case Token::number: next = in_number(next, end); break;
                case Token::literal: next = in_literal(next, end); break;
                case Token::failed: return;
            }
        }
    }

    std::optional<HookEvent> finish() {
        if (token_ == Token::number && number_may_end()) end_number();
        if (token_ != Token::none || expect_ != Expect::nothing) return std::nullopt;
        return std::move(keeper_.event());
    }

private:
    const char* between_tokens(const char* next, const char* end) {
        for (; next != end; ++next) {
            if (is_json_whitespace(*next)) continue;
            if (!structural(*next)) return fail_at(end);
            if (token_ != Token::none) return next + 1;
        }
        return end;
    }

    // No more of the text is read once it cannot be JSON.
    const char* fail_at(const char* end) {
        token_ = Token::failed;
        return end;
    }

    // One byte outside any token, not whitespace. False when the text cannot be JSON.
    bool structural(char c) {
        switch (expect_) {
            case Expect::value_or_end:
                if (c == ']') return close_container(false, true);
                [[fallthrough]];
            case Expect::value: return begin_value(c);
            case Expect::key_or_end:
                if (c == '}') return close_container(true, true);
                [[fallthrough]];
            case Expect::key:
                if (c != '"') return false;
                begin_key();
                return true;
            case Expect::colon:
                if (c != ':') return false;
                expect_ = Expect::value;
                return true;
            case Expect::comma_or_end:
                if (c == ',') {
                    expect_ = containers_.top_is_object() ? Expect::key : Expect::value;
                    return true;
                }
                if (c == ']' || c == '}') return close_container(c == '}', false);
                return false;
            case Expect::nothing: break;
        }
        return false;
    }

    bool begin_value(char c) {
        switch (c) {
            case '{': return open_container(JsonKind::object);
            case '[': return open_container(JsonKind::array);
            case '"': begin_string_value(); return true;
            case 't': begin_literal("rue", JsonKind::boolean, false); return true;
            case 'f': begin_literal("alse", JsonKind::boolean, true); return true;
            case 'n': begin_literal("ull", JsonKind::null, true); return true;
            default: break;
        }
        if (c != '-' && !is_digit(c)) return false;
        number_target_ = keeper_.begin_scalar(JsonKind::number);
        number_part_ = c == '-' ? NumberPart::minus : c == '0' ? NumberPart::zero : NumberPart::integer;
        number_nonzero_ = c > '0' && c <= '9';
        token_ = Token::number;
        return true;
    }

    void value_ended() {
        token_ = Token::none;
        expect_ = containers_.depth() == 0 ? Expect::nothing : Expect::comma_or_end;
    }

    // --- Containers

    bool open_container(JsonKind kind) {
        const bool object = kind == JsonKind::object;
        if (!containers_.push(object)) return false;
        keeper_.open_container(kind);
        expect_ = object ? Expect::key_or_end : Expect::value_or_end;
        return true;
    }

    bool close_container(bool object, bool empty) {
        if (containers_.top_is_object() != object) return false;
        containers_.pop();
        keeper_.close_container(empty);
        value_ended();
        return true;
    }

    // --- Literals: true, false, null

    void begin_literal(std::string_view rest, JsonKind kind, bool empty) {
        if (JsonValueSummary* target = keeper_.begin_scalar(kind)) target->empty = empty;
        literal_rest_ = rest;
        token_ = Token::literal;
    }

    const char* in_literal(const char* next, const char* end) {
        for (; next != end && !literal_rest_.empty(); ++next, literal_rest_.remove_prefix(1))
            if (*next != literal_rest_.front()) return fail_at(end);
        if (literal_rest_.empty()) value_ended();
        return next;
    }

    // --- Numbers: only whether the significand is zero is kept

    const char* in_number(const char* next, const char* end) {
        for (; next != end; ++next) {
            if (continues_number(*next)) continue;
            // The number ends here; the byte is read again as what follows it.
            if (!number_may_end()) return fail_at(end);
            end_number();
            return next;
        }
        return end;
    }

    bool continues_number(char c) {
        const bool digit = is_digit(c);
        switch (number_part_) {
            case NumberPart::minus:
                if (!digit) return false;
                number_part_ = c == '0' ? NumberPart::zero : NumberPart::integer;
                number_nonzero_ = c != '0';
                return true;
            case NumberPart::integer:
            case NumberPart::fraction:
                if (digit) {
                    number_nonzero_ = number_nonzero_ || c != '0';
                    return true;
                }
                [[fallthrough]];
            case NumberPart::zero:
                if (c == '.' && number_part_ != NumberPart::fraction) {
                    number_part_ = NumberPart::point;
                    return true;
                }
                if (c != 'e' && c != 'E') return false;
                number_part_ = NumberPart::exponent_mark;
                return true;
            case NumberPart::point:
                if (!digit) return false;
                number_part_ = NumberPart::fraction;
                number_nonzero_ = number_nonzero_ || c != '0';
                return true;
            case NumberPart::exponent_mark:
                if (c == '+' || c == '-') {
                    number_part_ = NumberPart::exponent_sign;
                    return true;
                }
                [[fallthrough]];
            case NumberPart::exponent_sign:
                if (!digit) return false;
                number_part_ = NumberPart::exponent;
                return true;
            case NumberPart::exponent: return digit;
        }
        return false;
    }

    bool number_may_end() const {
        return number_part_ == NumberPart::zero || number_part_ == NumberPart::integer ||
               number_part_ == NumberPart::fraction || number_part_ == NumberPart::exponent;
    }

    void end_number() {
        if (number_target_ != nullptr) number_target_->empty = !number_nonzero_;
        value_ended();
    }

    // --- Strings: keys, and values

    void begin_key() {
        key_read_ = keeper_.cursor().reads_keys();
        key_.clear();
        string_.begin(key_read_ ? &key_ : nullptr, EventKeeper::longest_member_name);
        in_key_ = true;
        token_ = Token::string;
    }

    void begin_string_value() {
        string_target_ = keeper_.begin_scalar(JsonKind::string);
        string_.begin(string_target_ != nullptr ? &string_target_->text : nullptr, std::string::npos);
        in_key_ = false;
        token_ = Token::string;
    }

    const char* in_string(const char* next, const char* end) {
        next = string_.read(next, end);
        if (string_.status() == JsonStringReader::Status::invalid) return fail_at(end);
        if (string_.status() == JsonStringReader::Status::closed) end_string();
        return next;
    }

    void end_string() {
        if (in_key_) {
            if (key_read_) keeper_.name_next_member(key_, !string_.overflowed());
            token_ = Token::none;
            expect_ = Expect::colon;
            return;
        }
        if (string_target_ != nullptr) string_target_->empty = string_target_->text.empty();
        value_ended();
    }

    EventKeeper keeper_;
    ContainerStack containers_;
    JsonStringReader string_;
    Expect expect_ = Expect::value;
    Token token_ = Token::none;

    std::string_view literal_rest_;

    NumberPart number_part_ = NumberPart::zero;
    bool number_nonzero_ = false;
    JsonValueSummary* number_target_ = nullptr;

    bool in_key_ = false;
    bool key_read_ = false;  // whether the key may name a kept member
    std::string key_;
    JsonValueSummary* string_target_ = nullptr;
};

EventDecoder::EventDecoder(const StringScanPath& scan) : grammar_(std::make_unique<Grammar>(scan)) {}

EventDecoder::~EventDecoder() = default;

void EventDecoder::feed(std::string_view piece) { grammar_->feed(piece); }

std::optional<HookEvent> EventDecoder::finish() { return grammar_->finish(); }

std::optional<HookEvent> decode_event(std::string_view text) {
    EventDecoder decoder;
    decoder.feed(text);
    return decoder.finish();
}

}  // namespace skillhook
