#include "support/second_person.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "support/run_pendrel.h"
#include "support/sshd_test_user.h"

namespace pendrel::testing {
namespace {

// How long a program run as the person may take before it is killed.
constexpr auto run_limit = std::chrono::seconds(30);

// Two useradd at once fail on each other's lock: the tests that need an account take turns.
constexpr const char* accounts_lock = "/run/lock/pendrel-test-accounts.lock";

bool become(const Person& person) {
  return ::setgroups(0, nullptr) == 0 && ::setgid(person.gid) == 0 && ::setuid(person.uid) == 0;
}

int exit_code_of(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

void ensure_account(const std::string& name, const std::string& shell) {
  if (::getpwnam(name.c_str()) != nullptr) return;
  int lock = ::open(accounts_lock, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) ::close(fd);
    }
  } unlock{lock};
  if (::getpwnam(name.c_str()) == nullptr)
    run_tool("useradd", {"--system", "--no-create-home", "--shell", shell, name});
}

Person ensure_second_person() {
  ensure_account(second_person_name, "/bin/sh");
  const passwd* entry = ::getpwnam(second_person_name);
  if (entry == nullptr) throw std::runtime_error("the second person is missing after useradd");
  return Person{entry->pw_name, entry->pw_uid, entry->pw_gid};
}

int run_step_as(const Person& person, const std::function<int()>& step,
                const std::function<bool()>& as_root) {
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (as_root && !as_root()) ::_exit(125);
    if (!become(person)) ::_exit(126);
    ::_exit(step());
  }
  return exit_code_of(child);
}

std::pair<int, std::string> run_as(const Person& person, const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env,
                                   const std::string& input, const std::function<bool()>& as_root) {
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : storage)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  ExecEnvironment envp(env);
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return {-1, "pipe"};
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return {-1, "pipe"};
  }
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    if (as_root && !as_root()) ::_exit(125);
    if (!become(person)) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  std::string shown;
  char buffer[4096];
  auto deadline = std::chrono::steady_clock::now() + run_limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd output{out[0], POLLIN, 0};
    if (child < 0 || left.count() <= 0 || ::poll(&output, 1, static_cast<int>(left.count())) == 0) {
      // A program waiting for something that never comes fails its test instead of hanging it.
      if (child > 0) ::kill(child, SIGKILL);
      break;
    }
    ssize_t got = ::read(out[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  return {child < 0 ? -1 : exit_code_of(child), shown};
}

bool can_run_as(const Person& person, const std::string& program) {
  return run_step_as(person, [&] { return ::access(program.c_str(), X_OK) == 0 ? 0 : 1; }) == 0;
}

}  // namespace pendrel::testing
