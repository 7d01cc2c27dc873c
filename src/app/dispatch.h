// dispatch: routes the first argument to exactly one command and returns its exit code.
#pragma once

#include "app/command.h"

namespace pendrel {

// With no arguments the help goes to standard error and the result is 1. Every command checks
// its own arguments before it contacts anything.
int dispatch(const Invocation& invocation, Arguments arguments);

}  // namespace pendrel
