#include "support/run_pendrel.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace pendrel::testing {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  return {fds[0], fds[1]};
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Reads what is available; false at end of stream (EIO on a terminal whose other side closed).
bool drain(int fd, std::string& into) {
  char buffer[65536];
  ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  return false;
}

}  // namespace

std::string pendrel_binary() {
  const char* path = std::getenv("PENDREL_BIN");
  if (path == nullptr || *path == '\0') throw std::runtime_error("PENDREL_BIN is not set");
  return path;
}

std::map<std::string, std::string> base_environment(const std::string& home) {
  return {{"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"HOME", home}, {"PENDREL_LANG", "en"}};
}

namespace {

// argv or envp for execve: pointers into `storage`, which must outlive them.
std::vector<char*> exec_vector(std::vector<std::string>& storage) {
  std::vector<char*> pointers;
  for (auto& entry : storage)
    pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ExecEnvironment::ExecEnvironment(const std::map<std::string, std::string>& env) {
  for (const auto& [name, value] : env)
    entries_.push_back(name + "=" + value);
  pointers_ = exec_vector(entries_);
}

pid_t spawn_detached(std::string program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env) {
  if (program.empty()) program = pendrel_binary();
  std::vector<std::string> argv_storage{program};
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<char*> argv = exec_vector(argv_storage);
  ExecEnvironment envp(env);
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close_range(3, ~0u, 0);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

RunResult run_pendrel(const RunOptions& options) {
  std::string program = options.program.empty() ? pendrel_binary() : options.program;
  std::vector<std::string> argv_storage{program};
  argv_storage.insert(argv_storage.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv = exec_vector(argv_storage);
  ExecEnvironment envp(options.env);

  Pipe in = make_pipe();
  Pipe err = make_pipe();
  int out_read = -1;
  int out_write = -1;
  if (options.stdout_mode == StdoutMode::pipe) {
    Pipe out = make_pipe();
    out_read = out.read;
    out_write = out.write;
  } else if (options.stdout_mode == StdoutMode::terminal) {
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&out_read, &out_write, nullptr, &raw, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    ::fcntl(out_read, F_SETFD, FD_CLOEXEC);
    ::fcntl(out_write, F_SETFD, FD_CLOEXEC);
  }

  pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::dup2(in.read, 0);
    if (out_write >= 0) {
      ::dup2(out_write, 1);
    } else {
      ::close(1);
    }
    ::dup2(err.write, 2);
    for (int fd : options.inherited_fds)
      ::fcntl(fd, F_SETFD, 0);
    if (!options.working_dir.empty() && ::chdir(options.working_dir.c_str()) != 0) _exit(126);
    ::execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close_fd(in.read);
  close_fd(err.write);
  close_fd(out_write);

  RunResult result;
  std::string_view pending_input = options.stdin_data;
  if (pending_input.empty()) close_fd(in.write);
  ::fcntl(in.write, F_SETFL, O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  bool child_done = false;
  int status = 0;
  while (out_read >= 0 || err.read >= 0 || in.write >= 0) {
    pollfd fds[3];
    nfds_t count = 0;
    if (out_read >= 0) fds[count++] = {out_read, POLLIN, 0};
    if (err.read >= 0) fds[count++] = {err.read, POLLIN, 0};
    if (in.write >= 0) fds[count++] = {in.write, POLLOUT, 0};
    int ready = ::poll(fds, count, 50);
    if (ready < 0 && errno != EINTR) break;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == out_read && !drain(out_read, result.out))
        close_fd(out_read);
      else if (fds[i].fd == err.read && !drain(err.read, result.err))
        close_fd(err.read);
      else if (fds[i].fd == in.write) {
        ssize_t sent = ::write(in.write, pending_input.data(), pending_input.size());
        if (sent > 0) pending_input.remove_prefix(static_cast<std::size_t>(sent));
        if ((sent < 0 && errno != EAGAIN && errno != EINTR) || pending_input.empty()) {
          close_fd(in.write);
        }
      }
    }
    // A terminal reports end of stream only once the child has gone and nobody else holds it.
    if (!child_done && ::waitpid(child, &status, WNOHANG) == child) child_done = true;
    if (child_done && options.stdout_mode == StdoutMode::terminal && out_read >= 0) {
      while (drain(out_read, result.out)) {
        pollfd check{out_read, POLLIN, 0};
        if (::poll(&check, 1, 0) <= 0) break;
      }
      close_fd(out_read);
    }
    if (child_done) close_fd(in.write);
    if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      ::kill(child, SIGKILL);
      break;
    }
  }
  close_fd(out_read);
  close_fd(err.read);
  close_fd(in.write);
  if (!child_done) ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace pendrel::testing
