// pendrel ls: the hosts open to command-line access, as a JSON array or a text table.
#pragma once

#include <expected>
#include <string>

#include "app/command.h"

namespace pendrel {

// `ls` alone, or `ls -q KEYWORD` (the keyword may be empty or start with a dash). The error is
// the usage message in the chosen language.
[[nodiscard]] std::expected<std::string, std::string> parse_ls_arguments(Arguments rest,
                                                                         Language language);

int run_ls(const Invocation& invocation, Arguments rest);

}  // namespace pendrel
