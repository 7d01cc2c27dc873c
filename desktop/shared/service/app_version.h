// The service's version, as the welcome carries it: the project's version from CMake.
#pragma once

#include <string_view>

namespace pendrel::desktop {

#ifndef PENDREL_DESKTOP_VERSION
#error "PENDREL_DESKTOP_VERSION must be defined by the build"
#endif
inline constexpr std::string_view app_version = PENDREL_DESKTOP_VERSION;

}  // namespace pendrel::desktop
