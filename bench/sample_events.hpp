// Realistic PostToolUse events for the benchmarks, generated deterministically
// so that every run of every machine measures the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace skillhook::bench {

struct SampleEvent {
    std::string name;  // the case's name in the benchmark table
    std::string text;  // the event, as the agent writes it to the hook
};

// A Claude Code Edit event of about half a kilobyte: no skill.
std::string edit_event();
// A Skill event for tvx-auth.
std::string skill_event();
// A Codex-style Bash event that ran `tolvex query ...`.
std::string bash_tolvex_event();
// A Claude Code Read event that carries a source file of the given size.
std::string read_event(std::size_t file_bytes);
// The same event with every character that JSON must escape in the file
// replaced by a space: what decoding costs when a long string needs no escapes.
std::string read_event_without_escapes(std::size_t file_bytes);

// The text as a JSON string literal, escaped as agents' serialisers do.
std::string json_string(std::string_view text);
// Source-like text of exactly `size` bytes, mostly ASCII.
std::string source_file(std::size_t size);
// Prose in Chinese and Japanese of exactly `size` bytes.
std::string document_file(std::size_t size);

// A Claude Code Read event that carries a document in Chinese and Japanese:
// every character but the line ends takes three bytes of UTF-8.
std::string document_event(std::size_t file_bytes);
// A Claude Code Bash event that writes a source file of the given size
// through a heredoc: the whole file is the command line the rules read.
std::string heredoc_event(std::size_t file_bytes);
// A Codex CLI prompt with a pasted build log of the given size, which the
// rules search for skill mentions.
std::string prompt_event(std::size_t log_bytes);

// The cases of the process-level benchmark, in table order.
std::vector<SampleEvent> sample_events();

}  // namespace skillhook::bench
