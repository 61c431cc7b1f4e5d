// In-process costs of one run: decoding and resolving each sample event,
// against a plain copy and a plain scan of the same bytes (what any program
// that looks at every byte must pay), UTF-8 validation against a plain scan
// and the packaged validator where it is installed, and Bash recognition on
// long lines.
#include "sample_events.hpp"

#include "bash_command.hpp"
#include "event_resolution.hpp"
#include "hook_event.hpp"
#include "string_scan.hpp"

#include <benchmark/benchmark.h>
#ifdef SKILLHOOK_BENCH_SIMDJSON
#include <simdjson.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using skillhook::bench::SampleEvent;

void count_bytes(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void copy_bytes(benchmark::State& state, const std::string& text) {
    std::vector<char> target(text.size());
    for (auto _ : state) {
        std::memcpy(target.data(), text.data(), text.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    count_bytes(state, text.size());
}

// Counts the quotes: one look at every byte, as a tokenizer's fast path does.
void scan_bytes(benchmark::State& state, const std::string& text) {
    for (auto _ : state) benchmark::DoNotOptimize(std::count(text.begin(), text.end(), '"'));
    count_bytes(state, text.size());
}

void decode(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto event = skillhook::decode_event(text);
        if (!event) {
            state.SkipWithError("the sample event does not decode");
            break;
        }
        benchmark::DoNotOptimize(event);
    }
    count_bytes(state, text.size());
}

void decode_and_resolve(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto event = skillhook::decode_event(text);
        if (!event) {
            state.SkipWithError("the sample event does not decode");
            break;
        }
        benchmark::DoNotOptimize(skillhook::_resolve_skill_name(*event));
    }
    count_bytes(state, text.size());
}

// The hook's pass over a string's content, which validates its UTF-8.
void pass_string(benchmark::State& state, const std::string& content) {
    const skillhook::StringScanPath& scan = skillhook::fastest_string_scan();
    for (auto _ : state) {
        const char* const stop = scan.plain_and_escapes(content.data(), content.data() + content.size());
        if (stop != content.data() + content.size()) {
            state.SkipWithError("the pass stops inside the string");
            break;
        }
        benchmark::DoNotOptimize(stop);
    }
    count_bytes(state, content.size());
}

#ifdef SKILLHOOK_BENCH_SIMDJSON
void packaged_validation(benchmark::State& state, const std::string& content) {
    for (auto _ : state) {
        if (!simdjson::validate_utf8(content.data(), content.size())) {
            state.SkipWithError("the packaged validator refuses the string");
            break;
        }
    }
    count_bytes(state, content.size());
}
#endif

// A string's content as the event holds it: escaped, without its quotation marks.
std::string string_content(const std::string& text) {
    const std::string literal = skillhook::bench::json_string(text);
    return literal.substr(1, literal.size() - 2);
}

void recognise_bash(benchmark::State& state, const std::string& command) {
    for (auto _ : state) benchmark::DoNotOptimize(skillhook::_resolve_bash_tolvex_command(command));
    count_bytes(state, command.size());
}

// A long command line of many short words whose tool word, if any, comes last.
std::string long_command_line(std::size_t size, bool tool_at_end) {
    std::string line;
    while (line.size() < size) line += "git -C /srv/repo log --format=%H\t";
    if (tool_at_end) line += " tolvex query run";
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    // Owned here so the registered benchmarks can refer to them for the whole run.
    static const std::vector<SampleEvent> events = [] {
        std::vector<SampleEvent> all = skillhook::bench::sample_events();
        // Not a process case: it shows how much of decoding the escapes cost.
        all.push_back({"read-1m-no-escapes", skillhook::bench::read_event_without_escapes(1'300'000)});
        return all;
    }();
    for (const SampleEvent& event : events) {
        benchmark::RegisterBenchmark(("copy/" + event.name).c_str(), copy_bytes, event.text);
        benchmark::RegisterBenchmark(("scan/" + event.name).c_str(), scan_bytes, event.text);
        benchmark::RegisterBenchmark(("decode/" + event.name).c_str(), decode, event.text);
        benchmark::RegisterBenchmark(("decode_and_resolve/" + event.name).c_str(), decode_and_resolve, event.text);
    }
    static const std::vector<std::pair<std::string, std::string>> contents = {
        {"source-1m", string_content(skillhook::bench::source_file(1024 * 1024))},
        {"cjk-1m", string_content(skillhook::bench::document_file(1024 * 1024))},
    };
    for (const auto& [name, content] : contents) {
        benchmark::RegisterBenchmark(("scan/utf8-" + name).c_str(), scan_bytes, content);
        benchmark::RegisterBenchmark(("utf8_hook/utf8-" + name).c_str(), pass_string, content);
#ifdef SKILLHOOK_BENCH_SIMDJSON
        benchmark::RegisterBenchmark(("utf8_packaged/utf8-" + name).c_str(), packaged_validation, content);
#endif
    }
    static const std::vector<std::pair<std::string, std::string>> commands = {
        {"bash/1k-no-tool", long_command_line(1024, false)},
        {"bash/1m-no-tool", long_command_line(1024 * 1024, false)},
        {"bash/1m-tool-last", long_command_line(1024 * 1024, true)},
        {"bash/1m-heredoc", "cat > src/generated_tables.cpp <<'EOF'\n" + skillhook::bench::source_file(1024 * 1024) + "EOF"},
    };
    for (const auto& [name, command] : commands)
        benchmark::RegisterBenchmark(name.c_str(), recognise_bash, command);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
