// The broker's life: become its account, check that nothing foreign runs in it, listen, and
// give each connection a thread that serves it for the uid it comes from.
#include "desktop/broker/accounts/broker.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "desktop/broker/accounts/account_switch.h"
#include "desktop/broker/accounts/command_run.h"
#include "desktop/broker/accounts/socket_relay.h"
#include "desktop/broker/accounts/user_cores.h"
#include "desktop/broker/vault/foreign_code_check.h"
#include "desktop/broker/vault/process_guard.h"
#include "desktop/shared/link/broker_link.h"
#include "desktop/shared/service/listener.h"
#include "desktop/shared/service/signal_handlers.h"
#include "desktop/shared/service/stop_signal.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/environment.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

constexpr auto opening_wait = 30s;
// Connections served at once: in all, and for one uid, so that one person (or an agent of
// theirs holding connections open) cannot keep everyone else out.
constexpr int max_connections = 256;
constexpr int max_connections_per_uid = 48;
constexpr int executable_descriptor_floor = 512;

void say(std::string_view text) {
  (void)write_all(STDERR_FILENO, "pendrel-desktop broker: " + std::string(text) + "\n");
}

// This program, held open from before the change of account: its directory may be one the
// account cannot enter (a build tree under /root), and the services and commands the broker
// starts are this program. Started through /proc/self/fd/N, which does not walk the path again.
// It sits above every number a person's command may ask for, which are placed over the low
// ones before the program starts.
UniqueFd open_own_executable() {
  UniqueFd opened(::open("/proc/self/exe", O_PATH | O_CLOEXEC));
  if (!opened) return opened;
  return UniqueFd(::fcntl(opened.get(), F_DUPFD_CLOEXEC, executable_descriptor_floor));
}

// The pid a front names for pendrel is taken only when that process is the same person's: a
// client cannot put another person's process, or none, in the audit in its place.
bool runs_as(pid_t pid, uid_t uid) {
  struct stat status {};
  return ::stat(("/proc/" + std::to_string(pid)).c_str(), &status) == 0 && status.st_uid == uid;
}

// Shared by the accepting loop and every connection's thread, and kept alive by the last of
// them: a thread may still be finishing when the broker stops.
struct Broker {
  Broker(std::string executable, std::string state_dir, std::string refusal,
         std::optional<uid_t> personal_uid)
      : cores(std::move(executable), std::move(state_dir), std::move(refusal), personal_uid) {}

  UserCores cores;
  StopSignal stop;
  std::atomic<int> serving{0};

  // Takes a place for a connection of `uid`; false when there is none.
  bool admit(uid_t uid) {
    std::lock_guard lock(places_mutex);
    // A personal broker serves one uid: the bound in all is its only one.
    if (serving.load() >= max_connections ||
        (!cores.personal() && per_uid[uid] >= max_connections_per_uid))
      return false;
    ++per_uid[uid];
    ++serving;
    return true;
  }
  void release(uid_t uid) {
    std::lock_guard lock(places_mutex);
    if (--per_uid[uid] == 0) per_uid.erase(uid);
    --serving;
  }

  std::mutex places_mutex;
  std::map<uid_t, int> per_uid;

  void serve(UniqueFd socket) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return;
    auto opening = read_frame_with_descriptors(socket.get(), max_opening_bytes,
                                               std::chrono::steady_clock::now() + opening_wait);
    if (!opening) {
      // A connection closed at once is a probe: the front's, waiting for this broker to answer.
      if (opening.error() != "closed before a frame")
        say("connection from pid " + std::to_string(peer.pid) + " dropped: " + opening.error());
      return;
    }
    ParsedObject parsed;
    if (!parse_object(opening->payload.view(), parsed)) return;
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return;
    auto kind = reader->string("kind");
    if (!kind || !*kind) return;
    if (**kind == "command") {
      run_person_command(socket.get(), peer.uid, opening->payload.view(),
                         std::move(opening->descriptors), cores);
      return;
    }
    if (**kind == "cli") return relay_request(socket, peer, *reader);
    if (**kind == "terminal") return relay_terminal(socket, peer);
    say("connection from pid " + std::to_string(peer.pid) + " dropped: unknown kind " + **kind);
  }

  // A terminal's client (or the front, about its LOCAL terminals), carried to the person's
  // service with the client's pid in front; the rest is desktop/broker/terminal_access/'s.
  void relay_terminal(UniqueFd& socket, const ucred& peer) {
    auto core = cores.connect_admin(peer.uid);
    if (!core) {
      say(core.error());
      JsonWriter refusal;
      refusal.begin_object()
          .key("ok")
          .boolean(false)
          .key("code")
          .string("app_not_running")
          .key("error")
          .string(core.error())
          .end_object();
      (void)write_frame(socket.get(), refusal.take());
      return;
    }
    JsonWriter origin;
    origin.begin_object().key("op").string("terminal").key("pid").integer(peer.pid).end_object();
    if (!write_frame(core->get(), origin.take())) return;
    relay_sockets(socket.get(), core->get(), stop.fd());
  }

  // pendrel's request, carried to the person's service with pendrel's pid in front.
  void relay_request(UniqueFd& socket, const ucred& peer, const ObjectReader& reader) {
    auto core = cores.connect(peer.uid);
    if (!core) {
      say(core.error());
      return;
    }
    auto claimed = reader.unsigned_integer("pid");
    std::uint64_t pid = static_cast<std::uint64_t>(peer.pid);
    if (claimed && *claimed && **claimed <= 0x7fffffff &&
        runs_as(static_cast<pid_t>(**claimed), peer.uid))
      pid = **claimed;
    JsonWriter origin;
    origin.begin_object()
        .key("pid")
        .unsigned_integer(pid)
        .key("via")
        .integer(peer.pid)
        .end_object();
    if (!write_frame(core->get(), origin.take())) return;
    relay_sockets(socket.get(), core->get(), stop.fd());
  }
};

// Personal mode: the front that started this broker, watched so that the broker ends with it
// however it ends. Only the front's own child may serve its data directory.
std::expected<UniqueFd, std::string> watch_front(pid_t front) {
  if (::getppid() != front)
    return std::unexpected("--personal names pid " + std::to_string(front) +
                           ", which did not start this broker");
  UniqueFd watched(static_cast<int>(::syscall(SYS_pidfd_open, front, 0)));
  if (!watched) return std::unexpected("cannot watch the front: " + os_error_text(errno));
  return watched;
}

}  // namespace

int run_broker(std::span<const std::string> args) {
  auto options = parse_broker_options(args);
  if (!options) {
    say(options.error());
    return 2;
  }
  const bool personal = options->front != 0;
  UniqueFd executable = open_own_executable();
  if (!executable) {
    say("cannot open its own program: " + os_error_text(errno));
    return 1;
  }
  UniqueFd front;
  if (personal) {
    // The person's own broker changes no account: the front prepared run/, and the data
    // directory keeps the mode the person gave it.
    auto watched = watch_front(options->front);
    if (!watched) {
      say(watched.error());
      return 1;
    }
    front = std::move(*watched);
  } else if (auto switched = become_broker_account(*options); !switched) {
    // Nothing is read before the change of account but the password database and /proc.
    say(switched.error());
    return 1;
  }
  auto hardened = harden_process();
  std::string refusal;
  if (auto reason = unlock_refusal_reason(Environment::from_process())) refusal = *reason;
  if (refusal.empty()) refusal = foreign_code_reason().value_or("");
  if (refusal.empty() && !hardened)
    refusal = "the broker could not protect its memory: " + hardened.error();
  if (!refusal.empty()) say("no vault will be unlocked: " + refusal);
  ::umask(077);
  auto broker = std::make_shared<Broker>(
      "/proc/self/fd/" + std::to_string(executable.get()), options->state_dir, refusal,
      personal ? std::optional<uid_t>(::getuid()) : std::nullopt);
  // The person's service first, so that its admin socket is there once the front, which
  // waits for this broker's socket, takes pendrel's requests.
  if (personal) {
    if (auto core = broker->cores.connect(::getuid()); !core) {
      say(core.error());
      return 1;
    }
  }
  auto listener = open_listener(options->socket);
  if (!listener) {
    say("cannot listen on " + options->socket + ": " + listener.error().reason);
    return 1;
  }
  // Every local user may connect; what each gets is decided by the uid it connects as. The
  // person's own broker listens in their run/, which only they may enter.
  if (!personal && ::chmod(options->socket.c_str(), 0666) != 0) {
    say("cannot open " + options->socket + " to every user: " + os_error_text(errno));
    return 1;
  }
  install_signal_handlers(broker->stop, ServiceMode::foreground);
  if (!personal) say("listening on " + options->socket + ", state in " + options->state_dir);
  while (!broker->stop.fired()) {
    pollfd fds[3] = {{listener->socket.get(), POLLIN, 0},
                     {broker->stop.fd(), POLLIN, 0},
                     {front.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) continue;
    if (fds[1].revents != 0 || fds[2].revents != 0) break;
    UniqueFd socket(::accept4(listener->socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!socket) continue;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) continue;
    // Beyond the limits a connection is closed unanswered, rather than left to wait.
    if (!broker->admit(peer.uid)) {
      say("refused a connection of uid " + std::to_string(peer.uid) + ": too many at once");
      continue;
    }
    std::thread([broker, uid = peer.uid, connection = std::move(socket)]() mutable {
      broker->serve(std::move(connection));
      broker->release(uid);
    }).detach();
  }
  remove_socket_file(*listener);
  release_signal_handlers();
  // The people's services end here; connections still carried end with them.
  broker->cores.stop_all();
  for (int i = 0; i < 50 && broker->serving.load() > 0; ++i)
    std::this_thread::sleep_for(100ms);
  if (!personal) say("stopped");
  return 0;
}

}  // namespace pendrel::desktop
