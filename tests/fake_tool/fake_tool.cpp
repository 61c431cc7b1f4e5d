// A fake of the product's tool for the process-level tests, the same program
// on every platform. A copy of it does what the action file beside it says
// (see fake_tool_action.hpp); the files it writes lie beside itself.
#include "fake_tool_system.hpp"

#include "fake_tool_action.hpp"
#include "utf8_paths.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

void write_beside(const fs::path& own, const std::string& name, const std::string& content) {
    std::ofstream file(own.parent_path() / utf8_path(name), std::ios::binary);
    file << content;
    if (!file.flush()) throw std::runtime_error("cannot write " + name);
}

// Stops early when the stream has no reader, as `head` on a closed pipe would.
void write_zeros(std::FILE* stream, std::uint64_t total) {
    const std::vector<char> block(64 * 1024, '\0');
    for (std::uint64_t written = 0; written < total;) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - written));
        if (std::fwrite(block.data(), 1, size, stream) != size) return;
        written += size;
    }
    std::fflush(stream);
}

void flood_both_streams(std::uint64_t total) {
    std::thread errors(write_zeros, stderr, total);
    write_zeros(stdout, total);
    errors.join();
}

void flood_one_stream(std::FILE* closed, std::FILE* flooded, std::uint64_t total) {
    if (std::fclose(closed) != 0) throw std::runtime_error("cannot close a standard stream");
    write_zeros(flooded, total);
}

int act(const fs::path& own, const std::vector<std::string>& arguments) {
    using Behaviour = FakeTool::Behaviour;
    const FakeTool action = read_action(own);
    switch (action.behaviour) {
        case Behaviour::record_arguments:
            write_beside(own, action.file, recorded_arguments(arguments));
            return 0;
        case Behaviour::fail_noisily:
            std::fputs("out\n", stdout);
            std::fputs("err\n", stderr);
            return 1;
        case Behaviour::create_file_and_fail:
            write_beside(own, action.file, "");
            return 3;
        case Behaviour::exit_at_once:
            return 0;
        case Behaviour::flood_both_streams:
            flood_both_streams(action.bytes);
            write_beside(own, action.file, "");
            return 0;
        case Behaviour::flood_errors_with_output_closed:
            flood_one_stream(stdout, stderr, action.bytes);
            write_beside(own, action.file, "");
            return 0;
        case Behaviour::flood_output_with_errors_closed:
            flood_one_stream(stderr, stdout, action.bytes);
            write_beside(own, action.file, "");
            return 0;
        case Behaviour::hang:
            write_beside(own, action.file, std::to_string(own_process_id()));
            std::this_thread::sleep_for(std::chrono::minutes(1));
            return 0;
        case Behaviour::leave_background_child:
            write_beside(own, action.file, std::to_string(start_stream_holder(own)));
            return 0;
        case Behaviour::create_file:
            write_beside(own, action.file, "");
            return 0;
        case Behaviour::die_of_signal:
            std::fputs("half\n", stdout);
            std::fputs("half\n", stderr);
            std::fflush(stdout);
            std::signal(action.signal, SIG_DFL);  // a sanitizer may have caught it
            std::raise(action.signal);
            return 0;
        case Behaviour::report_inherited_handles:
            write_beside(own, action.file, inherited_handle_report());
            return 0;
    }
    throw std::logic_error("unhandled fake tool behaviour");
}

}  // namespace

int run_fake_tool(const std::vector<std::string>& arguments) {
    try {
        return act(own_path(arguments), arguments);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "fake tool: %s\n", failure.what());
        return 2;
    }
}

}  // namespace skillhook::testing
