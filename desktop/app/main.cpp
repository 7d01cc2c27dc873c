// pendrel-desktop: `--headless` and `serve` run the service; everything else is one of the
// person's commands.
#include <libssh/libssh.h>

#include <string>
#include <vector>

#include "desktop/admin/admin_command.h"
#include "desktop/service/service.h"

namespace {

int run(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--headless") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::headless);
  }
  if (args.size() == 1 && args[0] == "serve") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::foreground);
  }
  return pendrel::desktop::run_admin_command(args);
}

}  // namespace

int main(int argc, char** argv) {
  // A dynamically linked libssh sets itself up in a constructor; a static link needs this,
  // once and before any thread starts.
  ssh_init();
  int code = run(std::vector<std::string>(argv + 1, argv + argc));
  ssh_finalize();
  return code;
}
