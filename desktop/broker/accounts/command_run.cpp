#include "desktop/broker/accounts/command_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string_view>

#include "desktop/broker/accounts/child_environment.h"
#include "desktop/broker/accounts/user_cores.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// Descriptor numbers a command may ask for; the copies the broker keeps sit above them.
constexpr int max_target_descriptor = 64;
constexpr int interrupt_grace_ms = 5000;

struct Opening {
  std::vector<std::string> args;
  std::vector<int> targets;  // the number each passed descriptor gets in the command
  int terminal = -1;         // the target that is the person's terminal
};

std::expected<Opening, std::string> read_opening(std::string_view text, std::size_t passed) {
  ParsedObject parsed;
  if (auto valid = parse_object(text, parsed); !valid) return std::unexpected(valid.error());
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(reader.error());
  Opening opening;
  auto args = reader->array("args");
  if (!args || !*args) return std::unexpected("no \"args\"");
  for (auto element : **args) {
    std::string_view arg;
    if (element.get(arg) != simdjson::SUCCESS)
      return std::unexpected("\"args\" holds a non-string");
    opening.args.emplace_back(arg);
  }
  if (opening.args.empty()) return std::unexpected("no command");
  auto targets = reader->array("descriptors");
  if (targets && *targets) {
    for (auto element : **targets) {
      std::uint64_t number = 0;
      if (element.get(number) != simdjson::SUCCESS || number >= max_target_descriptor)
        return std::unexpected("a descriptor number out of range");
      opening.targets.push_back(static_cast<int>(number));
    }
  }
  if (opening.targets.size() != passed)
    return std::unexpected("the descriptors sent do not match their numbers");
  auto terminal = reader->unsigned_integer("terminal");
  if (terminal && *terminal) {
    if (**terminal >= max_target_descriptor) return std::unexpected("a terminal out of range");
    opening.terminal = static_cast<int>(**terminal);
  }
  return opening;
}

// A file is handed over open, never named: the broker reads no file of the person's by its
// path, and a path would let the person make the broker read a file of its own. The commands
// take "--key FILE" and "--key=FILE" alike, so both spellings are checked.
std::optional<std::string> check_file_arguments(const Opening& opening) {
  for (std::size_t i = 0; i < opening.args.size(); ++i) {
    const std::string& arg = opening.args[i];
    for (std::string_view option : {"--key", "--import-from"}) {
      std::string value;
      if (arg == option && i + 1 < opening.args.size())
        value = opening.args[i + 1];
      else if (arg.starts_with(option) && arg.size() > option.size() && arg[option.size()] == '=')
        value = arg.substr(option.size() + 1);
      else
        continue;
      bool passed = false;
      for (int target : opening.targets)
        passed = passed || value == "/dev/fd/" + std::to_string(target);
      if (!passed)
        return std::string(option) + " takes a file the command opened and passed; " + value +
               " was not";
    }
  }
  return std::nullopt;
}

void answer(int socket, int exit_code) {
  JsonWriter writer;
  writer.begin_object().key("exit").integer(exit_code).end_object();
  (void)write_frame(socket, writer.take());
}

void refuse(int socket, const Opening* opening, const std::vector<UniqueFd>& descriptors,
            const std::string& reason) {
  // The person's standard error is the descriptor sent for number 2, when there is one.
  if (opening != nullptr) {
    for (std::size_t i = 0; i < opening->targets.size(); ++i) {
      if (opening->targets[i] == 2)
        (void)write_all(descriptors[i].get(),
                        "pendrel-desktop: the broker refused: " + reason + "\n");
    }
  }
  answer(socket, 1);
}

int exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Waits for the command, interrupting it when the person's side hangs up.
int wait_for(pid_t pid, int socket) {
  UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  bool interrupted = false;
  auto interrupted_at = std::chrono::steady_clock::now();
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return exit_code_of(status);
    pollfd fds[2] = {{process.get(), POLLIN, 0}, {interrupted ? -1 : socket, POLLIN, 0}};
    ::poll(fds, 2, interrupted ? 100 : -1);
    if (!interrupted && fds[1].revents != 0) {
      ::kill(pid, SIGINT);
      interrupted = true;
      interrupted_at = std::chrono::steady_clock::now();
    }
    if (interrupted && std::chrono::steady_clock::now() - interrupted_at >
                           std::chrono::milliseconds(interrupt_grace_ms))
      ::kill(pid, SIGKILL);
  }
}

}  // namespace

void run_person_command(int socket, uid_t uid, std::string_view opening_text,
                        std::vector<UniqueFd> descriptors, UserCores& cores) {
  auto opening = read_opening(opening_text, descriptors.size());
  if (!opening) return refuse(socket, nullptr, descriptors, opening.error());
  if (auto wrong = check_file_arguments(*opening))
    return refuse(socket, &*opening, descriptors, *wrong);
  auto state = cores.state_of(uid);
  if (!state) return refuse(socket, &*opening, descriptors, state.error());
  // The person's commands talk to the person's service (unlock, reload, console): it runs
  // whenever the broker does.
  if (auto core = cores.connect(uid); !core)
    return refuse(socket, &*opening, descriptors, core.error());
  // Copies above every target number, so that placing one never closes another.
  std::vector<UniqueFd> high;
  for (auto& descriptor : descriptors) {
    high.emplace_back(::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, max_target_descriptor + 16));
    if (!high.back()) return refuse(socket, &*opening, descriptors, os_error_text(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (std::size_t i = 0; i < high.size(); ++i)
    posix_spawn_file_actions_adddup2(&actions, high[i].get(), opening->targets[i]);
  ChildEnvironment environment = child_environment(*state, cores.refusal(), cores.personal(), uid);
  auto envp = environment.pointers();
  std::vector<std::string> words = {
      "pendrel-desktop", "broker-command",
      opening->terminal >= 0 ? std::to_string(opening->terminal) : std::string("-")};
  words.insert(words.end(), opening->args.begin(), opening->args.end());
  std::vector<char*> argv;
  for (auto& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int error = ::posix_spawn(&pid, cores.executable().c_str(), &actions, &attributes, argv.data(),
                            envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  high.clear();
  if (error != 0)
    return refuse(socket, &*opening, descriptors, "cannot start: " + os_error_text(error));
  descriptors.clear();  // the command has its own copies; the person's hang-up must show
  answer(socket, wait_for(pid, socket));
}

}  // namespace pendrel::desktop
