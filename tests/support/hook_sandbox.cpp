// The parts of the sandbox that every platform shares.
#include "hook_sandbox.hpp"

#include "hook_sandbox_platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

fs::path new_temporary_folder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("skillhook-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            fs::permissions(candidate, fs::perms::owner_all);
            return candidate;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

}  // namespace

HookSandbox::HookSandbox()
    : root_(new_temporary_folder()), bin_(root_ / "bin"), home_(root_ / "home"), harness_(root_ / "harness") {
    fs::create_directories(bin_);
    fs::create_directories(home_);
    fs::create_directories(harness_);
#if !defined(_WIN32)
    if (const char* launcher = std::getenv("SKILLHOOK_TEST_HOOK_LAUNCHER"); launcher != nullptr && *launcher != '\0') {
        // The real hook stays in bin/, so that it finds the tools beside it as
        // usual. The script needs no command from PATH, which some tests change.
        fs::copy_file(built_program(SKILLHOOK_HOOK_PATH), bin_ / "report_skill_usage.launched");
        write_script("report_skill_usage",
                     std::string("exec ") + launcher + " \"${0%/*}/report_skill_usage.launched\" \"$@\"");
        return;
    }
#endif
    fs::copy_file(built_program(SKILLHOOK_HOOK_PATH), hook());
}

HookSandbox::~HookSandbox() {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

fs::path HookSandbox::marker(const std::string& skill) const { return marker_folder() / utf8_path(".dedup_" + skill); }

fs::path HookSandbox::next_run_folder() const {
    const fs::path folder = harness_ / ("run-" + std::to_string(++runs_started_));
    fs::create_directory(folder);
    return folder;
}

void HookSandbox::install_fake_tool(const fs::path& folder, const std::string& name, const FakeTool& tool) const {
    const fs::path path = folder / name;
    fs::copy_file(built_program(SKILLHOOK_FAKE_TOOL_PATH), path, fs::copy_options::overwrite_existing);
    write_action(path, tool);
}

void HookSandbox::install_standin(const std::string& name) const {
    fs::copy_file(built_program(SKILLHOOK_STANDIN_PATH), bin_ / name);
}

std::vector<std::string> HookSandbox::recorded_uses() const {
    std::vector<std::string> names;
    std::istringstream log(read_file(bin_ / "tolvex-usage.log"));
    for (std::string line; std::getline(log, line);) names.push_back(line.substr(line.find('\t') + 1));
    return names;
}

std::string HookSandbox::executable_name(const std::string& stem) {
#if defined(_WIN32)
    return stem + ".exe";
#else
    return stem;
#endif
}

std::string HookSandbox::home_variable() {
#if defined(_WIN32)
    return "USERPROFILE";
#else
    return "HOME";
#endif
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::chrono::milliseconds since_written(const fs::path& path) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(fs::file_time_type::clock::now() -
                                                                 fs::last_write_time(path));
}

::testing::AssertionResult ended_with_diagnostic(const RunResult& result, std::string_view prefix) {
    const std::string& errors = result.standard_error;
    const auto lines = std::count(errors.begin(), errors.end(), '\n');
    if (result.exit_status == 1 && result.standard_output.empty() && errors.starts_with(prefix) && lines == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << result.exit_status << ", standard output \""
                                         << result.standard_output << "\", standard error \"" << errors
                                         << "\", expected status 1, no output and one line starting \"" << prefix
                                         << "\"";
}

std::string skill_event(const std::string& name) {
    std::string quoted;
    for (const char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return R"({"tool_name":"Skill","tool_input":{"skill":")" + quoted + R"("}})";
}

}  // namespace skillhook::testing
