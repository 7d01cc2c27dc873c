#include "desktop/broker/admin/admin_channel.h"

#include <sodium.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// Unlocking derives the key, which takes a moment with a person's parameters.
constexpr auto answer_wait = 60s;
constexpr std::uint32_t max_admin_answer_bytes = 64 * 1024;

std::string_view op_name(AdminOp op) {
  switch (op) {
    case AdminOp::status:
      return "status";
    case AdminOp::unlock:
      return "unlock";
    case AdminOp::reload:
      return "reload";
    case AdminOp::lock:
    case AdminOp::lock_all:
      return "lock";
  }
  return "status";
}

// The request's text; it holds the password, so it lives in guarded memory.
SecretBytes encode(AdminOp op, const SecretString* password) {
  JsonWriter writer;
  writer.begin_object().key("op").string(op_name(op));
  if (op == AdminOp::lock || op == AdminOp::lock_all)
    writer.key("all").boolean(op == AdminOp::lock_all);
  if (password) writer.key("password").string(password->view());
  writer.end_object();
  std::string text = writer.take_line();
  SecretBytes secret = SecretBytes::copy_of(text);
  sodium_memzero(text.data(), text.size());
  return secret;
}

}  // namespace

std::expected<std::optional<VaultReport>, AdminFailure> ask_service(const std::string& data_dir,
                                                                    AdminOp op,
                                                                    const SecretString* password) {
  std::string path = join_path(join_path(data_dir, "run"), "admin.sock");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return std::unexpected(bad_input("the socket path " + path + " is too long"));
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket)
    return std::unexpected(bad_input("cannot open a socket: " + std::string(strerror(errno))));
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == ENOENT || errno == ECONNREFUSED) return std::optional<VaultReport>{};
    return std::unexpected(bad_input("cannot connect to " + path + ": " + strerror(errno)));
  }
  SecretBytes request = encode(op, password);
  if (auto sent = write_frame(socket.get(), request.view()); !sent)
    return std::unexpected(bad_input("cannot talk to the service: " + sent.error().text()));
  auto frame = read_frame(socket.get(), max_admin_answer_bytes,
                          FrameWait{std::chrono::steady_clock::now() + answer_wait, -1});
  if (!frame)
    return std::unexpected(bad_input("the service did not answer: " + frame.error().text()));
  ParsedObject parsed;
  if (auto valid = parse_object(frame->view(), parsed); !valid)
    return std::unexpected(bad_input("the service's answer is not valid: " + valid.error()));
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(bad_input(reader.error()));
  auto ok = reader->boolean("ok");
  if (!ok || !*ok) return std::unexpected(bad_input("the service's answer has no \"ok\""));
  if (!**ok) {
    auto error = reader->string("error");
    return std::unexpected(bad_input(error && *error ? **error : "refused by the service"));
  }
  VaultReport report;
  if (auto state = reader->string("state"); state && *state) report.state = **state;
  if (auto locked = reader->boolean("appLocked"); locked && *locked) report.app_locked = **locked;
  if (auto idle = reader->unsigned_integer("idleLockSeconds"); idle && *idle)
    report.idle_lock_seconds = **idle;
  if (auto terminals = reader->unsigned_integer("terminals"); terminals && *terminals)
    report.terminals = **terminals;
  if (auto refused = reader->string("unlockRefused"); refused && *refused)
    report.unlock_refused = **refused;
  return report;
}

}  // namespace pendrel::desktop
