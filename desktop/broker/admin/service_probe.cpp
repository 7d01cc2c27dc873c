#include "desktop/broker/admin/service_probe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>

#include <cerrno>
#include <variant>

#include "protocol/channel.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/messages.h"
#include "protocol/unavailable_marker.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

// Long enough for a loaded machine, short enough that `status` never seems to hang.
constexpr timeval answer_wait{2, 0};

void ask_over_socket(const UniqueFd& socket, ProbeDepth depth, ServiceState& state) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0) {
    state.pid = peer.pid;
  }
  if (depth == ProbeDepth::presence) return;
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &answer_wait, sizeof answer_wait);
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &answer_wait, sizeof answer_wait);
  Hello hello;
  hello.client = "pendrel-desktop";
  hello.lang = "en";
  if (!write_frame(socket.get(), encode_hello(hello))) return;
  auto answer = read_answer(socket.get());
  if (!answer) return;
  if (const auto* welcome = std::get_if<Welcome>(&*answer)) state.version = welcome->app_version;
  if (const auto* refusal = std::get_if<ErrorBody>(&*answer)) {
    state.cli_disabled = refusal->code == "cli_disabled";
  }
}

// True while another process holds the service's lock on run/lock.
bool lock_is_held(const std::string& data_dir) {
  UniqueFd lock(::open(join_path(data_dir, "run/lock").c_str(), O_RDONLY | O_CLOEXEC));
  if (!lock) return false;
  if (::flock(lock.get(), LOCK_SH | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

}  // namespace

ServiceState probe_service(const std::string& data_dir, ProbeDepth depth) {
  ServiceState state;
  state.socket_path = join_path(data_dir, "run/cli.sock");
  if (auto socket = open_channel(data_dir)) {
    state.running = true;
    ask_over_socket(*socket, depth, state);
    return state;
  }
  if (auto reason = read_unavailable_marker(data_dir)) {
    state.running = true;
    state.unavailable_reason = *reason;
    auto text = read_whole_file(join_path(data_dir, "run/cli.unavailable"));
    if (text) {
      if (auto marker = parse_unavailable_marker(*text))
        state.pid = static_cast<pid_t>(marker->pid);
    }
    return state;
  }
  state.running = lock_is_held(data_dir);
  return state;
}

}  // namespace pendrel::desktop
