// `pendrel-desktop console`: the person's terminal attached to the running service, showing
// every request as it is handled and putting each rule match to them.
#pragma once

#include <expected>
#include <string>

namespace pendrel::desktop {

struct ConsoleFailure {
  int exit_code = 1;  // 3: no service runs
  std::string message;
};

// Runs until the person quits (q, Ctrl-D, a stopping signal) or the service goes. Approving
// takes the approval PIN or the master password, typed with echo off and checked by the
// service; refusing takes one key.
[[nodiscard]] std::expected<void, ConsoleFailure> run_console(const std::string& data_dir);

}  // namespace pendrel::desktop
