#include "path_rules.hpp"

namespace skillhook {
namespace {

void append_with(std::string& folder, std::string_view name, std::string_view separators, char separator) {
    if (folder.empty() || separators.find(folder.back()) == std::string_view::npos) folder += separator;
    folder += name;
}

}  // namespace

namespace posix_paths {

bool is_absolute(std::string_view path) { return path.starts_with('/'); }

bool is_through_a_descriptor(std::string_view path) {
    for (const std::string_view folder : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
        if (!path.starts_with(folder)) continue;
        const std::string_view rest = path.substr(folder.size());
        const std::size_t digits = rest.find_first_not_of("0123456789");
        if (!rest.empty() && digits != 0 && (digits == std::string_view::npos || rest[digits] == '/')) return true;
    }
    return false;
}

std::string_view parent_within(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::string parent_directory(std::string_view path) { return std::string(parent_within(path)); }

void append(std::string& folder, std::string_view name) { append_with(folder, name, "/", '/'); }

std::string join(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    append(joined, name);
    return joined;
}

bool refuses_in_file_name(char byte, bool) { return byte == '/' || byte == '\0'; }

}  // namespace posix_paths

namespace windows_paths {

bool is_absolute(std::string_view path) {
    const auto is_separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) return true;
    const bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive && path[1] == ':' && is_separator(path[2]);
}

std::string long_form(std::string_view full_path) {
    if (full_path.starts_with("\\\\?\\") || full_path.starts_with("\\\\.\\")) return std::string(full_path);
    if (full_path.starts_with("\\\\")) return "\\\\?\\UNC\\" + std::string(full_path.substr(2));
    return "\\\\?\\" + std::string(full_path);
}

std::string_view parent_within(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string_view::npos) return ".";
    const bool at_root = separator == 0 || (separator == 2 && path[1] == ':');
    return path.substr(0, at_root ? separator + 1 : separator);
}

std::string parent_directory(std::string_view path) { return std::string(parent_within(path)); }

void append(std::string& folder, std::string_view name) { append_with(folder, name, "\\/", '\\'); }

std::string join(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    append(joined, name);
    return joined;
}

bool refuses_in_file_name(char byte, bool last) {
    if (static_cast<unsigned char>(byte) < 0x20) return true;
    if (std::string_view("\\/:<>\"|?*").find(byte) != std::string_view::npos) return true;
    return last && (byte == '.' || byte == ' ');
}

}  // namespace windows_paths

std::optional<std::string> home_in_passwd_line(std::string_view line, unsigned uid) {
    // name:password:uid:gid:comment:home:shell
    std::string_view fields[7];
    std::size_t count = 0;
    while (count < 7) {
        const std::size_t colon = line.find(':');
        fields[count++] = line.substr(0, colon);
        if (colon == std::string_view::npos) break;
        line.remove_prefix(colon + 1);
    }
    if (count < 6 || fields[2] != std::to_string(uid) || fields[5].empty()) return std::nullopt;
    std::string_view home = fields[5];
    if (count == 6 && home.ends_with('\n')) home.remove_suffix(1);
    if (home.empty()) return std::nullopt;
    return std::string(home);
}

}  // namespace skillhook
