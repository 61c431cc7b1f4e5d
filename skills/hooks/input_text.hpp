// The whole of standard input, held in one block.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <string_view>

namespace skillhook {

// The block grows without being cleared first (doubling, in place or by
// remapping), so that a large event costs its own size and no more.
class InputText {
public:
    explicit InputText(std::size_t first_block = 64 * 1024) : capacity_(first_block) {}

    std::string_view view() const { return {data_.get(), size_}; }

    // Room for the next read, after the text so far; never empty.
    std::span<char> unused_space() {
        if (data_ == nullptr || size_ == capacity_) {
            if (data_ != nullptr) capacity_ *= 2;
            char* grown = static_cast<char*>(std::realloc(data_.get(), capacity_));
            if (grown == nullptr) throw std::bad_alloc();
            data_.release();
            data_.reset(grown);
        }
        return {data_.get() + size_, capacity_ - size_};
    }
    // Counts what the last read put into the unused space.
    void append(std::size_t count) { size_ += count; }

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, Free> data_;
    std::size_t size_ = 0;
    std::size_t capacity_;
};

}  // namespace skillhook
