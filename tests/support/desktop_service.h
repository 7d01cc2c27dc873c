// Running the real pendrel-desktop in end-to-end tests: a `serve` process in a temporary data
// directory that the test starts and stops, and a guard for one that pendrel started itself.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>

namespace pendrel::testing {

// The built service (PENDREL_DESKTOP_BIN).
[[nodiscard]] std::string desktop_binary();

// Writes <data_dir>/hosts.json with the given "hosts" array, e.g.
// R"([{"id":"loc1","name":"here","address":"localhost","port":22,"username":"me",
//      "protocol":"LOCAL","tags":[],"cli":true}])".
void write_hosts(const std::string& data_dir, std::string_view hosts_array);

// One LOCAL host with CLI access as a hosts-array element.
[[nodiscard]] std::string local_host(std::string_view id, std::string_view name, bool cli = true,
                                     std::string_view tag = "");

// True once connecting to <data_dir>/run/cli.sock succeeds, polling until `timeout`.
[[nodiscard]] bool wait_for_socket(const std::string& data_dir,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The pid of the process listening on the Unix socket `path` (SO_PEERCRED), or -1.
[[nodiscard]] pid_t listener_pid(const std::string& path);

// Polls until the process is gone (or a zombie nobody reaps); false after `timeout`.
[[nodiscard]] bool wait_until_gone(pid_t pid,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

class DesktopService {
 public:
  // Starts `pendrel-desktop serve` with exactly `env` (which names PENDREL_DATA_DIR) and waits
  // for the socket of `data_dir`, unless `wait` is false. Its standard error goes to
  // stderr_path() and its standard input and output to /dev/null.
  DesktopService(std::map<std::string, std::string> env, std::string data_dir, bool wait = true);
  ~DesktopService();  // stop()
  DesktopService(const DesktopService&) = delete;
  DesktopService& operator=(const DesktopService&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] std::string stderr_path() const { return data_dir_ + ".stderr"; }
  [[nodiscard]] std::string stderr_text() const;

  // Waits for the process to exit by itself; its exit code, or -1 after `timeout` or a signal.
  int wait_for_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // SIGTERM, then SIGKILL after ten seconds; the exit code (-1 when killed). Idempotent.
  int stop();

 private:
  std::string data_dir_;
  pid_t pid_ = -1;
  bool ready_ = false;
  int exit_code_ = -1;
};

// Ends, when it goes away, the service that pendrel started headless for `data_dir`, found by
// the pid in run/lock while the lock is held.
class HeadlessServiceGuard {
 public:
  explicit HeadlessServiceGuard(std::string data_dir) : data_dir_(std::move(data_dir)) {}
  ~HeadlessServiceGuard();
  HeadlessServiceGuard(const HeadlessServiceGuard&) = delete;
  HeadlessServiceGuard& operator=(const HeadlessServiceGuard&) = delete;

  // The pid of the service holding the lock, or -1.
  [[nodiscard]] pid_t pid() const { return pid_holding(data_dir_); }
  // The same for the service of any data directory, without ending it.
  [[nodiscard]] static pid_t pid_holding(const std::string& data_dir);

 private:
  std::string data_dir_;
};

}  // namespace pendrel::testing
