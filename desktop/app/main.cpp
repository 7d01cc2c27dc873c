// pendrel-desktop: `--headless` and `serve` run the service; everything else is one of the
// person's commands.
#include <string>
#include <vector>

#include "desktop/admin/admin_command.h"
#include "desktop/service/service.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--headless") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::headless);
  }
  if (args.size() == 1 && args[0] == "serve") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::foreground);
  }
  return pendrel::desktop::run_admin_command(args);
}
