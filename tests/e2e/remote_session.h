// Shared by the end-to-end tests of the remote commands: a home and a data directory with a
// fake desktop application listening in it, and the caller list pendrel should report.
#pragma once

#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/json_writer.h"
#include "support/fake_peer.h"
#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {

class RemoteSession {
 public:
  // PENDREL_APP is empty so that a test never starts a desktop application.
  [[nodiscard]] std::map<std::string, std::string> environment(std::string_view lang = "en") const {
    auto env = base_environment(home_.path());
    env["PENDREL_DATA_DIR"] = data_.path();
    env["PENDREL_APP"] = "";
    env["PENDREL_LANG"] = std::string(lang);
    return env;
  }

  [[nodiscard]] const std::string& data_dir() const { return data_.path(); }

  RunResult run(std::vector<std::string> args, StdoutMode mode, std::string_view lang = "en",
                std::string stdin_data = "", std::string working_dir = "") const {
    return run_pendrel({.args = std::move(args),
                        .env = environment(lang),
                        .stdout_mode = mode,
                        .stdin_data = std::move(stdin_data),
                        .working_dir = std::move(working_dir)});
  }

 private:
  TempDir home_;
  TempDir data_;
};

// The names pendrel should send as "caller": this test process (its parent) and then the test
// process's own ancestors, nearest first, at most five, empty names skipped.
inline std::vector<std::string> expected_callers() {
  std::vector<std::string> names;
  long pid = ::getpid();
  while (pid != 0 && names.size() < 5) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << file.rdbuf();
    std::string stat = text.str();
    std::size_t open = stat.find('(');
    std::size_t close = stat.rfind(')');
    if (!file || open == std::string::npos || close == std::string::npos) break;
    std::string name = stat.substr(open + 1, close - open - 1);
    if (!name.empty()) names.push_back(name);
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    fields >> state >> pid;
  }
  return names;
}

// `"caller":["a","b"]` as pendrel writes it, or nothing for an empty list.
inline std::string caller_member(const std::vector<std::string>& names) {
  if (names.empty()) return "";
  std::string member = R"(,"caller":[)";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) member += ',';
    append_json_string(member, names[i]);
  }
  member += ']';
  return member;
}

// The request frame is the second one the peer receives, after the handshake's Hello.
inline std::string request_of(const FakePeer& peer) {
  auto frames = peer.received();
  return frames.size() >= 2 ? frames[1] : "<no request>";
}

}  // namespace pendrel::testing
