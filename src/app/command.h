// What every command receives besides its arguments.
#pragma once

#include <span>
#include <string>

#include "output/output.h"
#include "protocol/environment.h"

namespace pendrel {

struct Invocation {
  Output& output;
  const Environment& environment;
  int stdin_fd;
};

using Arguments = std::span<const std::string>;

}  // namespace pendrel
