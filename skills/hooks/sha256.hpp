// SHA-256 (FIPS 180-4), for marker names that must stay short and distinct.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace skillhook {

std::array<std::uint8_t, 32> sha256(std::string_view message);

}  // namespace skillhook
