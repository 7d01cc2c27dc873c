// How a person's command fails: the message for standard error and the exit code, carried up
// to the one place that prints it.
#pragma once

#include <string>

namespace pendrel::desktop {

struct AdminFailure {
  // 1 bad input or a failed operation, 2 the host named does not exist, 3 the service is
  // needed and is not running.
  int exit_code = 1;
  std::string message;
};

[[nodiscard]] inline AdminFailure bad_input(std::string message) {
  return AdminFailure{1, std::move(message)};
}
[[nodiscard]] inline AdminFailure no_such_host(std::string message) {
  return AdminFailure{2, std::move(message)};
}

}  // namespace pendrel::desktop
