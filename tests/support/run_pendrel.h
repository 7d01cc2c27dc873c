// Runs the built pendrel binary as a child process with a controlled environment, its standard
// output on a pipe (JSON mode) or on a pseudo-terminal (text mode), standard error apart.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace pendrel::testing {

enum class StdoutMode { pipe, terminal, closed };

struct RunOptions {
  std::vector<std::string> args;
  // The whole environment of the child; nothing is inherited.
  std::map<std::string, std::string> env;
  StdoutMode stdout_mode = StdoutMode::pipe;
  std::string stdin_data;
  std::string working_dir;         // empty: the test's own
  std::string program;             // empty: the binary named by PENDREL_BIN
  std::vector<int> inherited_fds;  // extra descriptors left open in the child
  std::chrono::milliseconds timeout{30000};
};

struct RunResult {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  bool timed_out = false;
  std::string out;  // bytes written to standard output (raw: the terminal does no translation)
  std::string err;
};

// The path of the built binary (PENDREL_BIN).
[[nodiscard]] std::string pendrel_binary();

// PATH, a HOME inside `home` and English messages; tests add or remove what they need.
[[nodiscard]] std::map<std::string, std::string> base_environment(const std::string& home);

RunResult run_pendrel(const RunOptions& options);

// `env` as execve takes it: "NAME=value" strings and a null-ended array of pointers into them.
class ExecEnvironment {
 public:
  explicit ExecEnvironment(const std::map<std::string, std::string>& env);
  ExecEnvironment(const ExecEnvironment&) = delete;
  ExecEnvironment& operator=(const ExecEnvironment&) = delete;
  [[nodiscard]] char** data() { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

// Starts `program` (empty: pendrel) with `args` and exactly `env`, its standard streams on
// /dev/null and no other descriptor, without waiting for it: the caller ends and reaps it.
pid_t spawn_detached(std::string program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env);

}  // namespace pendrel::testing
