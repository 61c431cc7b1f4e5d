#include "fake_tool_action.hpp"

#include <array>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

using Behaviour = FakeTool::Behaviour;

constexpr std::array<std::pair<Behaviour, const char*>, 12> behaviour_words = {{
    {Behaviour::record_arguments, "record-arguments"},
    {Behaviour::fail_noisily, "fail-noisily"},
    {Behaviour::create_file_and_fail, "create-file-and-fail"},
    {Behaviour::exit_at_once, "exit-at-once"},
    {Behaviour::flood_both_streams, "flood-both-streams"},
    {Behaviour::flood_errors_with_output_closed, "flood-errors-with-output-closed"},
    {Behaviour::flood_output_with_errors_closed, "flood-output-with-errors-closed"},
    {Behaviour::hang, "hang"},
    {Behaviour::leave_background_child, "leave-background-child"},
    {Behaviour::create_file, "create-file"},
    {Behaviour::die_of_signal, "die-of-signal"},
    {Behaviour::report_inherited_handles, "report-inherited-handles"},
}};

const char* word_of(Behaviour behaviour) {
    for (const auto& [known, word] : behaviour_words)
        if (known == behaviour) return word;
    throw std::logic_error("a fake tool behaviour without a word");
}

Behaviour behaviour_named(const std::string& word) {
    for (const auto& [behaviour, known] : behaviour_words)
        if (word == known) return behaviour;
    throw std::runtime_error("unknown fake tool behaviour '" + word + "'");
}

}  // namespace

fs::path action_file(const fs::path& tool) { return fs::path(tool.native() + fs::path(".action").native()); }

// One value a line: the behaviour, the file, the byte count, the signal.
void write_action(const fs::path& tool, const FakeTool& action) {
    std::ofstream file(action_file(tool), std::ios::binary);
    file << word_of(action.behaviour) << '\n' << action.file << '\n' << action.bytes << '\n' << action.signal << '\n';
    if (!file.flush()) throw std::runtime_error("cannot write the fake tool's action");
}

FakeTool read_action(const fs::path& tool) {
    std::ifstream file(action_file(tool), std::ios::binary);
    std::string word;
    FakeTool action{};
    if (!std::getline(file, word) || !std::getline(file, action.file) || !(file >> action.bytes >> action.signal))
        throw std::runtime_error("no action beside the fake tool");
    action.behaviour = behaviour_named(word);
    return action;
}

}  // namespace skillhook::testing
