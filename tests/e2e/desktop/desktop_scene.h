// The common ground of the service's end-to-end tests: a home and a data directory of their
// own, the environment both programs get, and pendrel run against them.
#pragma once

#include <string>
#include <vector>

#include "support/desktop_service.h"
#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {

struct DesktopScene {
  TempDir home;
  std::string data_dir = home / "data";
  std::map<std::string, std::string> env = with_data_dir(base_environment(home.path()), data_dir);

  static std::map<std::string, std::string> with_data_dir(std::map<std::string, std::string> env,
                                                          const std::string& data_dir) {
    env["PENDREL_DATA_DIR"] = data_dir;
    return env;
  }

  [[nodiscard]] RunResult pendrel(std::vector<std::string> args,
                                  StdoutMode mode = StdoutMode::pipe) const {
    return run_pendrel({.args = std::move(args), .env = env, .stdout_mode = mode});
  }
  // pendrel started apart, with its output on /dev/null, for a test to kill and reap.
  [[nodiscard]] pid_t spawn_pendrel(const std::vector<std::string>& args) const {
    return spawn_detached({}, args, env);
  }
  // Where the person's hosts, vault and audit are kept: the data directory, or the broker's
  // state for the person when the scene runs through a broker.
  std::string state_dir;
  [[nodiscard]] const std::string& store_dir() const {
    return state_dir.empty() ? data_dir : state_dir;
  }
  [[nodiscard]] std::string audit() const { return read_file(store_dir() + "/logs/audit.jsonl"); }
  // The log of the service that handled the requests, when it writes one to a file (the
  // broker's service for the person does; a service run by the test writes to its stderr).
  [[nodiscard]] std::string service_log() const {
    return state_dir.empty() ? std::string() : read_file(state_dir + "/logs/pendrel-desktop.log");
  }
};

}  // namespace pendrel::testing
