#include "client/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "i18n/catalogue.h"
#include "protocol/error_code.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel {
namespace {

constexpr std::string_view bundle_name = "Pendrel";
constexpr std::string_view sibling_name = "pendrel-desktop";

// The path without its last component; "" for a bare name, nothing for "/" and "".
std::optional<std::string> parent_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  if (path.empty() || path == "/") return std::nullopt;
  auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/')
    parent.remove_suffix(1);
  if (parent.empty()) return std::string("/");
  return std::string(parent);
}

std::optional<std::string> canonical_form(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

// Everything below runs in the forked child, where only async-signal-safe calls belong.
// write_all only calls write(), so it is safe here.
[[noreturn]] void report_and_exit(int report_fd, int error) {
  (void)write_all(report_fd, std::string_view(reinterpret_cast<const char*>(&error), sizeof error));
  ::_exit(127);
}

void close_descriptors(unsigned first, unsigned last) {
  if (first > last) return;
  if (::close_range(first, last, 0) == 0) return;
  // Kernels before close_range: walk the table up to the descriptor limit.
  long limit = ::sysconf(_SC_OPEN_MAX);
  if (limit < 0) limit = 1024;
  for (long fd = first; fd < limit && fd <= static_cast<long>(last); ++fd) {
    ::close(static_cast<int>(fd));
  }
}

// The application outlives us: any descriptor it inherited (a caller's pipe, a socket)
// would stay open for as long as it runs, and a caller waiting for end of file on its pipe
// would wait for ever. Only the report pipe survives, and it closes itself on exec.
void close_inherited_descriptors(int report_fd) {
  const auto keep = static_cast<unsigned>(report_fd);
  close_descriptors(3, keep - 1);
  close_descriptors(keep + 1, ~0U);
}

// Whether a failed execve of one search candidate lets the search go on to the next, as the
// shell's own search does; any other failure (ENOEXEC above all) is the answer.
bool try_next_candidate(int error) {
  return error == ENOENT || error == ENOTDIR || error == ESTALE || error == ENODEV ||
         error == ETIMEDOUT || error == EACCES;
}

[[noreturn]] void become_app(const std::vector<std::string>& candidates, char* const* argv,
                             int report_fd) {
  if (::setpgid(0, 0) != 0) report_and_exit(report_fd, errno);
  int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0) report_and_exit(report_fd, errno);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::dup2(null_fd, fd) < 0) report_and_exit(report_fd, errno);
  }
  close_inherited_descriptors(report_fd);
  // We ignore SIGPIPE for ourselves; an ignored signal would survive exec.
  ::signal(SIGPIPE, SIG_DFL);
  // execve, never execvp: on ENOEXEC execvp hands the file to /bin/sh as a script, and a
  // file that is not a program must not be run at all.
  int error = ENOENT;
  bool denied = false;
  for (const auto& candidate : candidates) {
    ::execve(candidate.c_str(), argv, environ);
    error = errno;
    if (!try_next_candidate(error)) report_and_exit(report_fd, error);
    denied = denied || error == EACCES;
  }
  report_and_exit(report_fd, denied ? EACCES : error);
}

// Starts `program` detached; the errno of a failed exec comes back through a close-on-exec
// pipe, so "no such file" is known before we return. A child that failed is reaped.
std::expected<void, int> spawn_detached(const std::string& program,
                                        std::optional<std::string_view> search_path) {
  // Built before fork: the child may only make async-signal-safe calls.
  const std::vector<std::string> candidates = exec_candidates(program, search_path);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(errno);
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  // The child's report pipe must not sit on 0-2, which it replaces with /dev/null.
  if (write_end.get() <= 2) {
    int moved = ::fcntl(write_end.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return std::unexpected(errno);
    write_end.reset(moved);
  }

  std::string arg0 = program;
  std::string headless = "--headless";
  char* argv[] = {arg0.data(), headless.data(), nullptr};

  pid_t child = ::fork();
  if (child < 0) return std::unexpected(errno);
  if (child == 0) become_app(candidates, argv, write_end.get());

  write_end.reset();
  int child_error = 0;
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(&child_error);
  while (got < sizeof child_error) {
    ssize_t n = ::read(read_end.get(), bytes + got, sizeof child_error - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof child_error) return {};  // the pipe closed on exec: it runs
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return std::unexpected(child_error);
}

}  // namespace

std::optional<std::string> own_executable_path() {
  std::string buffer(256, '\0');
  while (true) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> exec_candidates(std::string_view program,
                                         std::optional<std::string_view> search_path) {
  if (program.find('/') != std::string_view::npos) return {std::string(program)};
  // The C library's default search path when PATH is unset.
  std::string_view directories = search_path.value_or("/bin:/usr/bin");
  std::vector<std::string> candidates;
  while (true) {
    auto colon = directories.find(':');
    std::string_view directory = directories.substr(0, colon);
    // An empty entry is the working directory.
    candidates.push_back(directory.empty() ? std::string(program) : join_path(directory, program));
    if (colon == std::string_view::npos) break;
    directories.remove_prefix(colon + 1);
  }
  return candidates;
}

std::vector<std::string> launch_candidates(std::string_view path) {
  std::vector<std::string> candidates;
  auto parent = parent_of(path);
  if (!parent) return candidates;
  if (auto grandparent = parent_of(*parent))
    candidates.push_back(join_path(*grandparent, bundle_name));
  candidates.push_back(join_path(*parent, sibling_name));
  return candidates;
}

bool is_launch_candidate(const std::string& own_path, const std::string& candidate) {
  struct stat status {};
  if (::stat(candidate.c_str(), &status) != 0) return false;
  if (!S_ISREG(status.st_mode)) return false;
  auto candidate_canonical = canonical_form(candidate);
  auto own_canonical = canonical_form(own_path);
  if (!candidate_canonical || !own_canonical) return true;
  return *candidate_canonical != *own_canonical;
}

std::optional<std::string> locate_app(const Environment& environment,
                                      const std::optional<std::string>& own_path) {
  if (auto configured = environment.get("PENDREL_APP")) {
    if (configured->empty()) return std::nullopt;
    return std::string(*configured);
  }
  if (!own_path) return std::nullopt;
  std::vector<std::string> candidates = launch_candidates(*own_path);
  if (auto canonical = canonical_form(*own_path)) {
    auto more = launch_candidates(*canonical);
    candidates.insert(candidates.end(), more.begin(), more.end());
  }
  for (const auto& candidate : candidates) {
    if (is_launch_candidate(*own_path, candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> locate_app(const Environment& environment) {
  return locate_app(environment, own_executable_path());
}

std::expected<void, CliFailure> start_app(const Environment& environment,
                                          const Diagnostics& diagnostics, Language language) {
  auto executable = locate_app(environment);
  if (!executable)
    return std::unexpected(
        failure_with(ErrorCode::connect_failed, std::string(messages::app_not_found.in(language))));
  diagnostics.launching(*executable);
  if (auto started = spawn_detached(*executable, environment.get("PATH")); !started) {
    return std::unexpected(failure_with(
        ErrorCode::connect_failed,
        format_message(messages::start_failed, language, os_error_text(started.error()))));
  }
  return {};
}

}  // namespace pendrel
