// Stand-in for the product's command-line tool, for the demo and the tests.
// `tolvex skills report-usage <name>` appends one line to tolvex-usage.log
// beside this executable: the UTC time, a tab, and the name with control
// characters and backslashes escaped, so that every name fits on one line.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

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

std::string log_path(std::string_view own_path) {
    const std::size_t slash = own_path.find_last_of("/\\");
    const std::string folder = slash == std::string_view::npos ? "." : std::string(own_path.substr(0, slash));
    return folder + "/tolvex-usage.log";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::string_view(argv[1]) != "skills" || std::string_view(argv[2]) != "report-usage") {
        std::fputs("usage: tolvex skills report-usage <skill-name>\n(stand-in: no other command)\n", stderr);
        return 2;
    }
    const std::string line = utc_now() + "\t" + escaped(argv[3]) + "\n";
    std::FILE* log = std::fopen(log_path(argv[0]).c_str(), "ab");
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
    std::printf("recorded use of %s\n", argv[3]);
    return 0;
}
