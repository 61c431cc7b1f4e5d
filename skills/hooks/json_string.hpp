// Reads one JSON string, from just after its opening quotation mark to just
// after its closing one, across as many pieces of the text as it spans:
// validates its UTF-8 and its escapes and decodes it where it is kept. A lone
// UTF-16 surrogate escape, which has no UTF-8 form, decodes as NUL.
#pragma once

#include "string_scan.hpp"

#include <cstddef>
#include <string>

namespace skillhook {

class JsonStringReader {
public:
    enum class Status : unsigned char { open, closed, invalid };

    explicit JsonStringReader(const StringScanPath& scan) : scan_(scan) {}

    // A string begins. Its decoded bytes are appended to `sink` (null: to
    // nowhere) while it holds at most `limit` of them; beyond, the sink keeps
    // what it had and overflowed() says so.
    void begin(std::string* sink, std::size_t limit);
    // Reads on; returns where reading goes on, `end` unless the string closed before.
    const char* read(const char* next, const char* end);

    Status status() const { return status_; }
    bool overflowed() const { return overflowed_; }

private:
    enum class Part : unsigned char { plain, escape, unicode_escape, utf8_sequence };

    const char* whole_special(const char* special, const char* end);
    bool begin_utf8_sequence(unsigned char lead);
    bool continues_utf8_sequence(unsigned char byte);
    bool escaped(char c);
    bool unicode_escape_digit(char c);
    void code_unit(unsigned unit);
    void emit_code_point(unsigned code_point);
    void emit_lone_surrogate();
    void emit(const char* bytes, std::size_t count);
    void emit_run(const char* begin, const char* end);
    void make_room(std::size_t size);
    void emit(char byte) { emit(&byte, 1); }

    const StringScanPath& scan_;
    Status status_ = Status::closed;
    Part part_ = Part::plain;
    std::string* sink_ = nullptr;
    std::size_t limit_ = 0;
    bool overflowed_ = false;
    unsigned escape_digits_ = 0;
    unsigned escaped_unit_ = 0;
    unsigned pending_surrogate_ = 0;  // a leading surrogate escape, waiting for its pair
    unsigned utf8_left_ = 0;          // continuation bytes still to come
    unsigned char utf8_low_ = 0;      // the range of the next one
    unsigned char utf8_high_ = 0;
};

}  // namespace skillhook
