#include "desktop/shared/link/broker_connection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "protocol/os_error.h"

namespace pendrel::desktop {

std::string how_to_start_broker() {
  return "start it with `systemctl start pendrel-broker`, or run `pendrel-desktop broker` as "
         "root";
}

std::expected<UniqueFd, BrokerFailure> connect_to_broker(const BrokerAddress& address) {
  using Kind = BrokerFailure::Kind;
  auto expected_uid = address.personal ? std::expected<uid_t, std::string>(::getuid())
                                       : uid_of_account(address.account);
  if (!expected_uid) return std::unexpected(BrokerFailure{Kind::other, expected_uid.error()});
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  if (address.socket.size() >= sizeof name.sun_path)
    return std::unexpected(
        BrokerFailure{Kind::other, "the socket path " + address.socket + " is too long"});
  std::memcpy(name.sun_path, address.socket.c_str(), address.socket.size() + 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket)
    return std::unexpected(
        BrokerFailure{Kind::other, "cannot open a socket: " + os_error_text(errno)});
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0) {
    int error = errno;
    Kind kind = error == ENOENT || error == ECONNREFUSED ? Kind::unreachable : Kind::other;
    return std::unexpected(BrokerFailure{
        kind, "the broker does not answer on " + address.socket + " (" + os_error_text(error) +
                  "); " +
                  (address.personal ? std::string("it runs while pendrel-desktop does")
                                    : how_to_start_broker())});
  }
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
    return std::unexpected(BrokerFailure{
        Kind::other, "cannot tell who serves " + address.socket + ": " + os_error_text(errno)});
  if (peer.uid != *expected_uid) {
    return std::unexpected(BrokerFailure{
        Kind::impostor,
        "refused " + address.socket + ": it is served by uid " + std::to_string(peer.uid) +
            ", not by " +
            (address.personal ? std::string("you") : "the account " + address.account) + " (uid " +
            std::to_string(*expected_uid) + "); nothing was sent"});
  }
  if (peer.uid == ::getuid() && uid_of_account(service_account_name) &&
      (address.personal || address.account != service_account_name)) {
    return std::unexpected(BrokerFailure{
        Kind::impostor, "refused " + address.socket +
                            ": it is served by your own uid while the "
                            "account " +
                            std::string(service_account_name) + " exists; nothing was sent"});
  }
  return socket;
}

}  // namespace pendrel::desktop
