// pendrel-desktop: `--headless` and `serve` run the service; everything else is one of the
// person's commands.
#include <libssh/libssh.h>

#include <string>
#include <vector>

#include "desktop/broker/accounts/broker.h"
#include "desktop/broker/admin/admin_command.h"
#include "desktop/broker/terminal_access/terminal_requests.h"
#include "desktop/broker/vault/password_input.h"
#include "desktop/front/session/front_terminals.h"
#include "desktop/shared/service/service.h"
#include "protocol/decimal.h"

namespace {

int run(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--headless") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::headless,
                                         pendrel::desktop::serve_front_terminal);
  }
  if (args.size() == 1 && args[0] == "serve") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::foreground,
                                         pendrel::desktop::serve_front_terminal);
  }
  if (!args.empty() && args[0] == "broker") {
    return pendrel::desktop::run_broker(std::span(args).subspan(1));
  }
  // Inside the broker: a person's service, and a person's command run for them.
  if (args.size() == 1 && args[0] == "broker-core") {
    return pendrel::desktop::run_service(pendrel::desktop::ServiceMode::in_broker,
                                         pendrel::desktop::serve_core_terminal);
  }
  if (args.size() >= 2 && args[0] == "broker-command") {
    if (auto terminal = pendrel::parse_decimal_u32(args[1]))
      pendrel::desktop::use_terminal_descriptor(static_cast<int>(*terminal));
    return pendrel::desktop::run_admin_command(std::span(args).subspan(2),
                                               pendrel::desktop::AdminRoute::here);
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
