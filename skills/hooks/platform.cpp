// The platform layer's portable part, over the per-system primitives.
#include "platform.hpp"

#include "platform_primitives.hpp"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace skillhook::platform {

void create_directories(const std::string& path) {
    if (make_folder(path)) return;
    const std::string parent = parent_directory(path);
    if (parent == path) throw std::runtime_error("cannot create " + path + ": no such root");
    create_directories(parent);
    if (!make_folder(path)) throw std::runtime_error("cannot create " + path + ": its parent vanished");
}

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

}  // namespace skillhook::platform
