// The signal names a server reports when a remote program dies of a signal (exit-signal).
#pragma once

#include <string_view>

namespace pendrel::desktop {

// The Linux number of an exit-signal name ("TERM" is 15), or -1 for a name not known here.
[[nodiscard]] int signal_number(std::string_view name);

}  // namespace pendrel::desktop
