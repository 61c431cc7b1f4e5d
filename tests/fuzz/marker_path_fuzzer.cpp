// The marker path for arbitrary skill names, NUL, "/", "." and ".." included.
//
// Property: a name yields no path, or a path that names one entry directly in
// the marker folder, called ".dedup_" followed by the unchanged name; read
// lexically (every "." and ".." resolved) it still lies directly in the
// folder. Exactly the names that hold a separator or a NUL yield no path.
#include "duplicate_suppression.hpp"
#include "fuzz_check.hpp"
#include "platform.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 4> folders = {"/home/user/.tolvex/hooks", "/home/user/.tolvex/hooks/",
                                                     "relative/.tolvex/hooks", "/"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view folder = folders[data[0] % folders.size()];
    const std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::optional<std::string> path = skillhook::marker_path_in(folder, name);
    const bool refusable = skillhook::platform::holds_path_separator(name) || name.find('\0') != std::string::npos;
    FUZZ_CHECK(path.has_value() == !refusable);
    if (!path) return 0;

    const std::string file_name = ".dedup_" + name;
    FUZZ_CHECK(path->ends_with(file_name));
    const std::string_view in_folder = std::string_view(*path).substr(0, path->size() - file_name.size());
    FUZZ_CHECK(in_folder == folder || (in_folder.size() == folder.size() + 1 && in_folder.starts_with(folder) &&
                                       skillhook::platform::holds_path_separator(in_folder.substr(folder.size()))));

    std::string_view folder_itself = folder;
    if (folder_itself.size() > 1 && folder_itself.ends_with('/')) folder_itself.remove_suffix(1);
    const fs::path normal = fs::path(*path).lexically_normal();
    FUZZ_CHECK(normal.parent_path() == fs::path(folder_itself).lexically_normal());
    FUZZ_CHECK(normal.filename() == file_name);
    return 0;
}
