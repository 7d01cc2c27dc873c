#include "desktop/shared/link/broker_address.h"

#include <pwd.h>

#include <cerrno>
#include <vector>

#include "protocol/os_error.h"

namespace pendrel::desktop {

std::optional<BrokerAddress> configured_broker(const Environment& environment) {
  if (auto socket = environment.get_non_empty("PENDREL_BROKER_SOCKET")) {
    auto account = environment.get_non_empty("PENDREL_BROKER_ACCOUNT");
    return BrokerAddress{std::string(*socket), std::string(account.value_or(service_account_name))};
  }
  if (!uid_of_account(service_account_name)) return std::nullopt;
  return BrokerAddress{std::string(installed_broker_socket), std::string(service_account_name)};
}

BrokerAddress personal_broker(const std::string& data_dir) {
  return BrokerAddress{data_dir + "/run/broker.sock", "", true};
}

std::expected<uid_t, std::string> uid_of_account(std::string_view account) {
  std::string name(account);
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  int error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (error != 0)
    return std::unexpected("cannot look up the account " + name + ": " + os_error_text(error));
  if (found == nullptr) return std::unexpected("there is no account " + name);
  return found->pw_uid;
}

}  // namespace pendrel::desktop
