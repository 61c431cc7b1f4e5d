// Stand-in for the product's command-line tool, for the demo and the tests.
// `tolvex skills report-usage <name>` appends one line to tolvex-usage.log
// beside this executable: the UTC time, a tab, and the name with control
// characters and backslashes escaped, so that every name fits on one line.
// Where the user cannot write beside it (installed in /usr/bin, say), the log
// goes to the user's state folder instead: $XDG_STATE_HOME/tolvex, or
// ~/.local/state/tolvex; %LOCALAPPDATA%\tolvex on Windows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string escaped(std::string_view name) {
    std::string out;
    for (const char character : name) {
        const auto c = static_cast<unsigned char>(character);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        } else {
            out += character;
        }
    }
    return out;
}

std::string utc_now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%s.%03dZ", text, static_cast<int>(millis));
    return stamp;
}

// Arguments and paths are UTF-8 here, whatever form the system hands them in.
std::filesystem::path utf8_path(std::string_view text) { return std::u8string(text.begin(), text.end()); }

std::FILE* open_for_appending(const std::filesystem::path& path) {
#if defined(_WIN32)
    return ::_wfopen(path.c_str(), L"ab");
#else
    return std::fopen(path.c_str(), "ab");
#endif
}

#if defined(_WIN32)
std::optional<std::filesystem::path> user_state_folder() {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') return std::nullopt;
    return std::filesystem::path(local) / "tolvex";
}
#else
std::optional<std::filesystem::path> user_state_folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::filesystem::path(state) / "tolvex";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::nullopt;
    return std::filesystem::path(home) / ".local" / "state" / "tolvex";
}
#endif

// The log beside this executable, else in the user's state folder.
std::FILE* open_usage_log(const std::filesystem::path& executable) {
    const char* const name = "tolvex-usage.log";
    if (std::FILE* log = open_for_appending(executable.parent_path() / name)) return log;
    const std::optional<std::filesystem::path> folder = user_state_folder();
    if (!folder) return nullptr;
    std::error_code error;
    std::filesystem::create_directories(*folder, error);
    if (error) return nullptr;
    return open_for_appending(*folder / name);
}

int record(const std::vector<std::string>& arguments) {
    if (arguments.size() != 4 || arguments[1] != "skills" || arguments[2] != "report-usage") {
        std::fputs("usage: tolvex skills report-usage <skill-name>\n(stand-in: no other command)\n", stderr);
        return 2;
    }
    const std::string& name = arguments[3];
    const std::string line = utc_now() + "\t" + escaped(name) + "\n";
    std::FILE* log = open_usage_log(utf8_path(arguments[0]));
    if (log == nullptr) {
        std::perror("tolvex: cannot open the usage log");
        return 1;
    }
    // One write per record keeps concurrent records whole.
    const bool written = std::fwrite(line.data(), 1, line.size(), log) == line.size();
    if (std::fclose(log) != 0 || !written) {
        std::perror("tolvex: cannot record the use");
        return 1;
    }
    std::printf("recorded use of %s\n", name.c_str());
    return 0;
}

}  // namespace

#if defined(_WIN32)
// The command line arrives as UTF-16; the narrow argv would hold the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int index = 0; index < argc; ++index) {
        const std::u8string text = std::filesystem::path(argv[index]).u8string();
        arguments.emplace_back(text.begin(), text.end());
    }
    return record(arguments);
}
#else
int main(int argc, char** argv) { return record({argv, argv + argc}); }
#endif
