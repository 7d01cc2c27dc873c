// A stand-in desktop application for the launcher's end-to-end tests. It records how it was
// started (FAKE_APP_RECORD), then behaves as FAKE_APP_MODE says: "serve" answers the
// handshake and one request with FAKE_APP_ANSWER, "never" never opens its socket, "marker"
// writes a live unavailability marker. It always exits by itself after FAKE_APP_LIFETIME_MS.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_peer.h"

namespace {

using std::chrono::milliseconds;

std::string variable(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

milliseconds variable_ms(const char* name, long fallback) {
  std::string text = variable(name);
  return milliseconds(text.empty() ? fallback : std::stol(text));
}

// Descriptors above 2, listed before this program opens anything of its own.
std::vector<int> open_descriptors_above_stdio() {
  std::vector<int> found;
  DIR* directory = ::opendir("/proc/self/fd");
  if (directory == nullptr) return found;
  const int own = ::dirfd(directory);
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd > 2 && fd != own) found.push_back(fd);
  }
  ::closedir(directory);
  return found;
}

bool is_null_device(int fd) {
  struct stat null_status {};
  struct stat status {};
  if (::stat("/dev/null", &null_status) != 0 || ::fstat(fd, &status) != 0) return false;
  return S_ISCHR(status.st_mode) && status.st_rdev == null_status.st_rdev;
}

// Written whole under a temporary name and renamed, so a reader never sees half a record.
void write_record(const std::string& path, int argc, char** argv,
                  const std::vector<int>& descriptors) {
  if (path.empty()) return;
  std::string text = "pid " + std::to_string(::getpid()) + "\n";
  text += "pgid " + std::to_string(::getpgrp()) + "\n";
  for (int i = 0; i < argc; ++i)
    text += std::string("arg ") + argv[i] + "\n";
  text += "stdio";
  for (int fd = 0; fd <= 2; ++fd)
    text += is_null_device(fd) ? " null" : " other";
  text += "\nopen";
  for (int fd : descriptors)
    text += " " + std::to_string(fd);
  text += "\n";
  std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary);
    file << text;
  }
  std::filesystem::rename(temporary, path);
}

void write_marker(const std::string& data_dir) {
  std::filesystem::create_directories(data_dir + "/run");
  std::ofstream file(data_dir + "/run/cli.unavailable", std::ios::binary);
  file << ::getpid() << "\n" << variable("FAKE_APP_REASON", "fake reason") << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const auto descriptors = open_descriptors_above_stdio();
  const auto started = std::chrono::steady_clock::now();
  const auto lifetime = variable_ms("FAKE_APP_LIFETIME_MS", 5000);
  const auto delay = variable_ms("FAKE_APP_DELAY_MS", 0);
  const std::string mode = variable("FAKE_APP_MODE", "serve");
  const std::string data_dir = variable("PENDREL_DATA_DIR");
  write_record(variable("FAKE_APP_RECORD"), argc, argv, descriptors);

  const auto end_of_life = started + lifetime;
  std::this_thread::sleep_until(std::min(started + delay, end_of_life));
  if (mode == "serve" && !data_dir.empty() && std::chrono::steady_clock::now() < end_of_life) {
    pendrel::testing::FakePeer peer(
        data_dir, {pendrel::testing::answer_with(
                      variable("FAKE_APP_ANSWER", R"({"type":"hosts","data":[]})"))});
    std::this_thread::sleep_until(end_of_life);
    return 0;
  }
  if (mode == "marker" && !data_dir.empty()) write_marker(data_dir);
  std::this_thread::sleep_until(end_of_life);
  return 0;
}
