// The program's name and version, as `pendrel version` prints them and the handshake sends them.
#pragma once

#include <string_view>

namespace pendrel {

inline constexpr std::string_view program_version = "0.1.3";
inline constexpr std::string_view client_name = "pendrel 0.1.3";

}  // namespace pendrel
