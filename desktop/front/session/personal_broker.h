// Personal mode: the front starts the broker as its own child, on run/broker.sock in the data
// directory, and stops it when it stops. The broker ends by itself when the front ends in any
// other way (it watches the front's pid).
#pragma once

#include <sys/types.h>

#include <expected>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/shared/link/broker_address.h"

namespace pendrel::desktop {

class PersonalBroker {
 public:
  // `foreground`: the front logs to standard error, and the service in the broker shares it.
  PersonalBroker(std::string data_dir, bool foreground);
  ~PersonalBroker() { stop(); }
  PersonalBroker(const PersonalBroker&) = delete;
  PersonalBroker& operator=(const PersonalBroker&) = delete;

  [[nodiscard]] const BrokerAddress& address() const { return address_; }

  // Starts the broker unless one of this front's still runs, and waits until its socket
  // answers. The error is the reason, for the log and for pendrel.
  [[nodiscard]] std::expected<void, std::string> ensure_running();

  // SIGTERM, and SIGKILL when it is still there after its own bounded stop.
  void stop();

 private:
  std::expected<void, std::string> start_locked();

  std::string data_dir_;
  bool foreground_;
  BrokerAddress address_;
  std::mutex mutex_;
  pid_t pid_ = 0;
};

}  // namespace pendrel::desktop
