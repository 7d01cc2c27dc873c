// The open terminals of one process: each under a short id ("s1" for the person's service,
// "l1" for the front), found by id, listed, and all ended when the service stops.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/shared/terminal/terminal.h"

namespace pendrel::desktop {

class TerminalRegistry {
 public:
  // `id_prefix` tells the terminals of this process from another's; `events` goes to every
  // terminal (the audit).
  TerminalRegistry(std::string id_prefix, TerminalEvents events)
      : prefix_(std::move(id_prefix)), events_(std::move(events)) {}
  ~TerminalRegistry() { end_all("the service stopped"); }
  TerminalRegistry(const TerminalRegistry&) = delete;
  TerminalRegistry& operator=(const TerminalRegistry&) = delete;

  [[nodiscard]] std::shared_ptr<Terminal> open(std::string host_id, std::string host_name,
                                               std::unique_ptr<TerminalBackend> backend,
                                               WindowSize size);
  // Nothing when there is no such terminal or its shell has ended.
  [[nodiscard]] std::shared_ptr<Terminal> find(std::string_view id);
  // The open terminals, oldest first.
  [[nodiscard]] std::vector<std::shared_ptr<Terminal>> open_terminals();
  [[nodiscard]] std::vector<TerminalInfo> list();
  // The most recently opened terminal of `host_id` that has a client attached, for a command
  // typed into it on pendrel's behalf; nothing when there is none.
  [[nodiscard]] std::shared_ptr<Terminal> latest_attached(std::string_view host_id);
  [[nodiscard]] bool owns(std::string_view id) const { return id.starts_with(prefix_); }

  // Hangs every terminal up, tells each client `reason`, and waits for them all.
  void end_all(const std::string& reason);

 private:
  void forget_ended_locked();

  std::string prefix_;
  TerminalEvents events_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Terminal>> terminals_;
  std::uint64_t next_number_ = 1;
  bool closed_ = false;
};

// The list as JSON: {"terminals":[{"id":…,"hostId":…,"hostName":…,"opened":UNIX-SECONDS,
// "attached":BOOL},…]}.
[[nodiscard]] std::string terminal_list_json(const std::vector<TerminalInfo>& terminals);

}  // namespace pendrel::desktop
