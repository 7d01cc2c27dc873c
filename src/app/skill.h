// pendrel skill: print the agent skill file, or install it where an agent looks for it.
#pragma once

#include <string_view>

#include "app/command.h"

namespace pendrel {

// The skill file, byte for byte as shipped.
[[nodiscard]] std::string_view skill_text();

int run_skill(const Invocation& invocation, Arguments rest);

}  // namespace pendrel
