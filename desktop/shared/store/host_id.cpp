#include "desktop/shared/store/host_id.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace pendrel::desktop {
namespace {

constexpr std::string_view id_alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
// The largest multiple of the alphabet's size below 256: bytes above it are drawn again, so
// every character is equally likely.
constexpr unsigned fair_limit = 256 - 256 % id_alphabet.size();

std::expected<std::string, int> random_id() {
  std::string id;
  while (id.size() < host_id_length) {
    unsigned char bytes[32];
    ssize_t got = ::getrandom(bytes, sizeof bytes, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    for (ssize_t i = 0; i < got && id.size() < host_id_length; ++i) {
      if (bytes[i] < fair_limit) id += id_alphabet[bytes[i] % id_alphabet.size()];
    }
  }
  return id;
}

}  // namespace

std::expected<std::string, int> generate_host_id(const std::vector<HostRecord>& existing) {
  while (true) {
    auto id = random_id();
    if (!id) return id;
    bool taken = std::any_of(existing.begin(), existing.end(),
                             [&](const HostRecord& host) { return host.id == *id; });
    if (!taken) return id;
  }
}

}  // namespace pendrel::desktop
