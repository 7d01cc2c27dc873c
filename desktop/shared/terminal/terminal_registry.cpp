#include "desktop/shared/terminal/terminal_registry.h"

#include <algorithm>

#include "protocol/json_writer.h"

namespace pendrel::desktop {

std::shared_ptr<Terminal> TerminalRegistry::open(std::string host_id, std::string host_name,
                                                 std::unique_ptr<TerminalBackend> backend,
                                                 WindowSize size) {
  std::lock_guard lock(mutex_);
  forget_ended_locked();
  if (closed_) {
    backend->hang_up();
    return nullptr;
  }
  TerminalInfo info{prefix_ + std::to_string(next_number_++), std::move(host_id),
                    std::move(host_name), std::chrono::system_clock::now(), false};
  auto terminal = std::make_shared<Terminal>(std::move(info), std::move(backend), size, events_);
  terminals_.push_back(terminal);
  return terminal;
}

std::shared_ptr<Terminal> TerminalRegistry::find(std::string_view id) {
  std::lock_guard lock(mutex_);
  forget_ended_locked();
  for (const auto& terminal : terminals_) {
    if (terminal->info().id == id) return terminal;
  }
  return nullptr;
}

std::vector<std::shared_ptr<Terminal>> TerminalRegistry::open_terminals() {
  std::lock_guard lock(mutex_);
  forget_ended_locked();
  return terminals_;
}

std::shared_ptr<Terminal> TerminalRegistry::latest_attached(std::string_view host_id) {
  auto terminals = open_terminals();
  for (auto it = terminals.rbegin(); it != terminals.rend(); ++it) {
    TerminalInfo info = (*it)->info();
    if (info.host_id == host_id && info.attached) return *it;
  }
  return nullptr;
}

std::vector<TerminalInfo> TerminalRegistry::list() {
  std::vector<TerminalInfo> infos;
  for (const auto& terminal : open_terminals())
    infos.push_back(terminal->info());
  return infos;
}

void TerminalRegistry::end_all(const std::string& reason) {
  std::vector<std::shared_ptr<Terminal>> ending;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ending.swap(terminals_);
  }
  for (const auto& terminal : ending)
    terminal->hang_up(reason);
  ending.clear();  // each waits for its own thread
}

void TerminalRegistry::forget_ended_locked() {
  std::erase_if(terminals_, [](const auto& terminal) { return terminal->ended(); });
}

std::string terminal_list_json(const std::vector<TerminalInfo>& terminals) {
  JsonWriter writer;
  writer.begin_object().key("terminals").begin_array();
  for (const auto& terminal : terminals) {
    auto opened =
        std::chrono::duration_cast<std::chrono::seconds>(terminal.opened.time_since_epoch());
    writer.begin_object()
        .key("id")
        .string(terminal.id)
        .key("hostId")
        .string(terminal.host_id)
        .key("hostName")
        .string(terminal.host_name)
        .key("opened")
        .integer(opened.count())
        .key("attached")
        .boolean(terminal.attached)
        .end_object();
  }
  writer.end_array().end_object();
  return writer.take();
}

}  // namespace pendrel::desktop
