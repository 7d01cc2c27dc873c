#include "desktop/admin/admin_command.h"

#include <cstdio>

namespace pendrel::desktop {

// Placeholder until the person's commands are built.
int run_admin_command(std::span<const std::string> args) {
  std::fprintf(stderr, "pendrel-desktop: unknown command %s\n",
               args.empty() ? "" : args.front().c_str());
  return 1;
}

}  // namespace pendrel::desktop
