// The marker for arbitrary skill names, NUL, "/", "\", ":", "%", "." and ".."
// included, by the rules of both systems.
//
// Properties: the file name is ".dedup_" and the unchanged name exactly when
// the system can hold that, else ".dedup-" and an encoding; decoding it gives
// the name back, so two names never share a marker. Where that would be
// longer than a file name may be, it is ".dedup=" and 64 hexadecimal digits
// instead. Either way it holds no byte the system refuses there, and the path
// names that file directly in the marker folder, read lexically (every "."
// and ".." resolved).
#include "duplicate_suppression.hpp"
#include "fuzz_check.hpp"
#include "path_rules.hpp"
#include "platform.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 4> folders = {"/home/user/.tolvex/hooks", "/home/user/.tolvex/hooks/",
                                                     "relative/.tolvex/hooks", "/"};

int hex_value(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// The skill name a marker file name stands for, or nothing when it is no marker's.
std::optional<std::string> decoded(std::string_view file_name) {
    if (file_name.starts_with(".dedup_")) return std::string(file_name.substr(7));
    if (!file_name.starts_with(".dedup-")) return std::nullopt;
    std::string name;
    for (std::size_t i = 7; i < file_name.size(); ++i) {
        if (file_name[i] != '%') {
            name += file_name[i];
            continue;
        }
        if (i + 2 >= file_name.size() || hex_value(file_name[i + 1]) < 0 || hex_value(file_name[i + 2]) < 0)
            return std::nullopt;
        name += static_cast<char>(hex_value(file_name[i + 1]) * 16 + hex_value(file_name[i + 2]));
        i += 2;
    }
    return name;
}

void check_file_name(const std::string& name, skillhook::FileNameRule refuses) {
    bool holdable = true;
    std::size_t encoded_size = 7;  // ".dedup-"
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool refused = refuses(name[i], i + 1 == name.size());
        holdable = holdable && !refused;
        encoded_size += refused || name[i] == '%' ? std::size_t{3} : std::size_t{1};
    }
    const std::size_t readable_size = holdable ? 7 + name.size() : encoded_size;
    const std::string file_name = skillhook::marker_file_name(name, refuses);
    for (std::size_t i = 0; i < file_name.size(); ++i) FUZZ_CHECK(!refuses(file_name[i], i + 1 == file_name.size()));
    if (readable_size > skillhook::longest_file_name) {
        FUZZ_CHECK(file_name.starts_with(".dedup=") && file_name.size() == 7 + 64);
        FUZZ_CHECK(file_name.find_first_not_of("0123456789ABCDEF", 7) == std::string::npos);
        return;
    }
    FUZZ_CHECK(file_name.starts_with(".dedup_") == holdable);
    FUZZ_CHECK(decoded(file_name) == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view folder = folders[data[0] % folders.size()];
    const std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);

    check_file_name(name, skillhook::posix_paths::refuses_in_file_name);
    check_file_name(name, skillhook::windows_paths::refuses_in_file_name);

    const std::string path = skillhook::marker_path_in(folder, name);
    const std::string file_name = skillhook::marker_file_name(name, skillhook::platform::refuses_in_file_name);
    std::string_view folder_itself = folder;
    if (folder_itself.size() > 1 && folder_itself.ends_with('/')) folder_itself.remove_suffix(1);
    const fs::path normal = fs::path(path).lexically_normal();
    FUZZ_CHECK(normal.parent_path() == fs::path(folder_itself).lexically_normal());
    FUZZ_CHECK(normal.filename() == file_name);
    return 0;
}
