// Recognition costs time linear in the length of the line, whatever its shape.
// The bound is far above what a linear pass needs even in an unoptimised or
// sanitized build, and far below what any quadratic pass over 10 MB would take.
// It holds the processor time the test used, which a busy machine does not
// stretch as it does the time on the clock (std::clock; on Windows it is the
// clock's time all the same).
#include "bash_command.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

namespace skillhook {
namespace {

constexpr std::size_t line_bytes = 10'000'000;
constexpr auto time_bound = std::chrono::seconds(10);

std::chrono::duration<double> processor_time() {
    return std::chrono::duration<double>(static_cast<double>(std::clock()) / CLOCKS_PER_SEC);
}

// `piece` repeated to the length of the line, between `prefix` and `suffix`.
struct Shape {
    const char* name;
    std::string prefix;
    std::string piece;
    std::string suffix;
    std::optional<std::string> expected;

    std::string line() const {
        std::string text = prefix;
        text.reserve(prefix.size() + line_bytes + piece.size() + suffix.size());
        while (text.size() < prefix.size() + line_bytes) text += piece;
        return text += suffix;
    }
};

TEST(BashCommandCost, LongLinesOfEveryShapeAreHandledInLinearTime) {
    const Shape shapes[] = {
        {"spaces", "", " ", "", std::nullopt},
        {"ideographic spaces", "", "\u3000", "", std::nullopt},
        {"mixed whitespace", "", " \t\u00A0\u2028", "", std::nullopt},
        {"quoted whitespace", "'", " ", "'", std::nullopt},
        {"slashes", "", "/", "", std::nullopt},
        {"backslashes", "", "\\", "", std::nullopt},
        {"tool words", "", "tolvex ", "", std::nullopt},
        {"one path of tool names", "", "/tolvex", "", std::nullopt},
        {"near misses then the tool", "", "tolve", "tolvex auth", "tvx-auth"},
        {"short words then the tool", "", "x ", "tolvex query", "tvx-dataset-query"},
        {"a huge subcommand", "tolvex ", "a", "", std::nullopt},
        {"malformed bytes", "", "\xE2", "", std::nullopt},
        {"non-splitting spaces", "tolvex ", "\u200B", "", std::nullopt},
    };
    for (const Shape& shape : shapes) {
        const std::string line = shape.line();
        const auto start = processor_time();
        const auto skill = _resolve_bash_tolvex_command(line);
        const auto elapsed = processor_time() - start;
        EXPECT_EQ(skill, shape.expected) << shape.name;
        EXPECT_LT(elapsed, time_bound) << shape.name;
        RecordProperty(shape.name, std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    }
}

}  // namespace
}  // namespace skillhook
