#include "sample_events.hpp"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace skillhook::bench {
namespace {

// The members every Claude Code event starts with.
constexpr std::string_view claude_preamble =
    R"("session_id":"3f0c9d7e-5b1a-4e8f-9c2d-7a6b5e4d3c21",)"
    R"("transcript_path":"/home/dev/.claude/projects/-home-dev-shop/3f0c9d7e-5b1a-4e8f-9c2d-7a6b5e4d3c21.jsonl",)"
    R"("cwd":"/home/dev/shop","permission_mode":"default","hook_event_name":"PostToolUse",)";

}  // namespace

// The text as a JSON string literal, escaped as agents' serialisers do.
std::string json_string(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + text.size() / 16 + 2);
    quoted += '"';
    for (const char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}

namespace {

// A fixed pseudo-random sequence (the classic 32-bit LCG), the same everywhere.
class Sequence {
public:
    std::uint32_t next(std::uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    std::uint32_t state_ = 20240611u;
};

}  // namespace

// Source-like text: indented code with string literals, escapes, tabs and
// comments that hold some multi-byte UTF-8, cut to exactly `size` bytes at a
// character boundary.
std::string source_file(std::size_t size) {
    static constexpr std::string_view words[] = {
        "return", "const", "auto", "count", "offset", "buffer", "size_t", "std::string", "if", "for",
        "value", "result", "parse", "index", "while", "config", "options", "table", "next", "nullptr"};
    static constexpr std::string_view comments[] = {
        "// keeps the order stable", "// r\xC3\xA9sum\xC3\xA9 of the last pass \xE2\x86\x92 next",
        "// see \xE2\x80\x9Cnotes\xE2\x80\x9D", "/* \xF0\x9F\x9A\x80 fast path */", "// TODO: measure"};
    Sequence random;
    std::string text;
    text.reserve(size + 256);
    while (text.size() < size) {
        const std::uint32_t depth = random.next(4);
        text.append(depth * 4, ' ');
        if (random.next(10) == 0) text += '\t';
        const std::uint32_t word_count = 2 + random.next(8);
        for (std::uint32_t w = 0; w < word_count; ++w) {
            if (w > 0) text += ' ';
            text += words[random.next(std::size(words))];
        }
        switch (random.next(6)) {
        case 0: text += " = \"path\\\\to\\\\file\";"; break;
        case 1: text += "(\"say \\\"hi\\\"\\n\");"; break;
        case 2: text += ' '; text += comments[random.next(std::size(comments))]; break;
        default: text += ';';
        }
        text += '\n';
    }
    std::size_t end = size;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// Prose in Chinese and Japanese, one sentence a line, cut to exactly `size`
// bytes at a character boundary.
std::string document_file(std::size_t size) {
    static constexpr std::string_view phrases[] = {
        "\xE6\x95\xB0\xE6\x8D\xAE\xE9\x9B\x86",              // 数据集
        "\xE7\x9A\x84\xE6\x9F\xA5\xE8\xAF\xA2\xE7\xBB\x93\xE6\x9E\x9C",  // 的查询结果
        "\xE3\x81\xAF\xE6\xAF\x8E\xE6\x97\xA5",              // は毎日
        "\xE6\x9B\xB4\xE6\x96\xB0\xE3\x81\x95\xE3\x82\x8C\xE3\x81\xBE\xE3\x81\x99",  // 更新されます
        "\xE3\x80\x81",                                        // 、
        "\xE8\xA1\xA8\xE6\xA0\xBC",                              // 表格
        "\xE5\x9C\xB0\xE5\x8C\xBA\xE5\x88\xAB",                // 地区别
        "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF",                // データ
        "\xE6\xB3\xA8\xE6\x84\x8F",                              // 注意
    };
    Sequence random;
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        const std::uint32_t phrase_count = 4 + random.next(12);
        for (std::uint32_t p = 0; p < phrase_count; ++p) text += phrases[random.next(std::size(phrases))];
        text += "\xE3\x80\x82\n";  // 。
    }
    std::size_t end = size;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

namespace {

// A Claude Code Read event whose response carries the file.
std::string read_event_carrying(const std::string& content) {
    std::size_t lines = 0;
    for (const char c : content) lines += c == '\n';
    const std::string path = "/home/dev/shop/src/generated_tables.cpp";
    return "{" + std::string(claude_preamble) + R"("tool_name":"Read","tool_input":{"file_path":")" + path +
           R"("},"tool_response":{"type":"text","file":{"filePath":")" + path + R"(","content":)" +
           json_string(content) + R"(,"numLines":)" + std::to_string(lines) +
           R"(,"startLine":1,"totalLines":)" + std::to_string(lines) + "}}}";
}

}  // namespace

std::string edit_event() {
    const std::string old_text = "    if (count == 0) return;";
    const std::string new_text = "    if (count == 0) {\n        return;\n    }";
    return "{" + std::string(claude_preamble) +
           R"("tool_name":"Edit","tool_input":{"file_path":"/home/dev/shop/src/cart.cpp","old_string":)" +
           json_string(old_text) + R"(,"new_string":)" + json_string(new_text) +
           R"(},"tool_response":{"filePath":"/home/dev/shop/src/cart.cpp","oldString":)" + json_string(old_text) +
           R"(,"newString":)" + json_string(new_text) + R"(,"replaceAll":false,"userModified":false}})";
}

std::string skill_event() {
    return "{" + std::string(claude_preamble) +
           R"("tool_name":"Skill","tool_input":{"skill":"tvx-auth"},)"
           R"("tool_response":{"success":true,"commandName":"tvx-auth"}})";
}

std::string bash_tolvex_event() {
    const std::string output =
        "dataset: sales_orders\ncolumns:\n  order_id    bigint\n  placed_at   timestamp\n"
        "  amount      decimal(12,2)\n  region      text\nrows: 1284412\n";
    return R"({"session_id":"0198a3c4-7e21-7b90-a1f2-3c4d5e6f7a8b",)"
           R"("transcript_path":"/home/dev/.codex/sessions/2025/06/11/rollout-0198a3c4.jsonl",)"
           R"("cwd":"/home/dev/shop","hook_event_name":"PostToolUse","tool_name":"Bash",)"
           R"("tool_input":{"command":"tolvex query metadata --dataset sales_orders"},"tool_response":)" +
           json_string(output) + "}";
}

std::string read_event(std::size_t file_bytes) { return read_event_carrying(source_file(file_bytes)); }

std::string read_event_without_escapes(std::size_t file_bytes) {
    std::string content = source_file(file_bytes);
    for (char& c : content)
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = ' ';
    return read_event_carrying(content);
}

std::string document_event(std::size_t file_bytes) { return read_event_carrying(document_file(file_bytes)); }

std::string heredoc_event(std::size_t file_bytes) {
    const std::string command = "cat > src/generated_tables.cpp <<'EOF'\n" + source_file(file_bytes) + "EOF";
    return "{" + std::string(claude_preamble) + R"("tool_name":"Bash","tool_input":{"command":)" +
           json_string(command) + R"(,"description":"Write the generated tables"},)"
           R"("tool_response":{"stdout":"","stderr":"","interrupted":false,"isImage":false}})";
}

std::string prompt_event(std::size_t log_bytes) {
    static constexpr std::string_view lines[] = {
        "[ 42%] Building CXX object src/CMakeFiles/shop.dir/cart.cpp.o\n",
        "/home/dev/shop/src/cart.cpp:118:23: warning: unused variable 'total' [-Wunused-variable]\n",
        "  118 |     const double total = price * count;\n",
        "      |                  ^~~~~\n",
        "$ make -j8 2>&1 | tee build.log\n",
        "ld: error: undefined symbol: shop::Cart::checkout(shop::Payment const&)\n",
        ">>> referenced by main.cpp:57 (src/main.cpp:57)\n",
    };
    Sequence random;
    std::string prompt = "The build fails after my last change; here is the log:\n\n";
    while (prompt.size() < log_bytes) prompt += lines[random.next(std::size(lines))];
    prompt += "\nWhy does the linker not find checkout?";
    return R"({"session_id":"0198a3c4-7e21-7b90-a1f2-3c4d5e6f7a8b","turn_id":"0198a3c4-7e22-7c01-b2a3-4d5e6f7a8b9c",)"
           R"("transcript_path":"/home/dev/.codex/sessions/2025/06/11/rollout-0198a3c4.jsonl",)"
           R"("cwd":"/home/dev/shop","hook_event_name":"UserPromptSubmit","model":"gpt-5-codex","prompt":)" +
           json_string(prompt) + "}";
}

std::vector<SampleEvent> sample_events() {
    return {
        {"edit-small", edit_event()},
        {"skill-repeat", skill_event()},
        {"bash-repeat", bash_tolvex_event()},
        {"read-128k", read_event(128 * 1024)},
        {"read-1m", read_event(1'300'000)},
        {"read-20m", read_event(20 * 1024 * 1024)},
        {"read-40m", read_event(40 * 1024 * 1024)},  // twice the above: the cost per megabyte is flat
        {"read-cjk-1m", document_event(1024 * 1024)},
        {"read-cjk-20m", document_event(20 * 1024 * 1024)},
        {"bash-heredoc-128k", heredoc_event(128 * 1024)},
        {"bash-heredoc-1m", heredoc_event(1024 * 1024)},
        {"prompt-log-1m", prompt_event(1024 * 1024)},
    };
}

}  // namespace skillhook::bench
