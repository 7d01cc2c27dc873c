// One open terminal: a shell (its backend), what the stream scanner learnt from its output,
// the last output kept for the next client, and at most one attached client. A thread of its
// own moves the bytes, so that neither a slow client nor a busy shell holds anyone else up.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "desktop/shared/terminal/output_ring.h"
#include "desktop/shared/terminal/stream_scanner.h"
#include "desktop/shared/terminal/terminal_backend.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Output queued for a client beyond this: the shell is not read until the client catches up.
inline constexpr std::size_t max_queued_for_client = 1024 * 1024;

struct TerminalInfo {
  std::string id;
  std::string host_id;
  std::string host_name;
  std::chrono::system_clock::time_point opened;
  bool attached = false;
};

enum class TerminalEventKind { opened, attached, detached, taken_over, closed };

// What the audit is told; never a byte of what was typed or shown.
struct TerminalEvent {
  TerminalEventKind kind = TerminalEventKind::attached;
  TerminalInfo info;
  pid_t client_pid = 0;
  std::chrono::milliseconds duration{0};  // of the attachment that ended, or of the terminal
  std::optional<ShellEnding> ending;      // closed
};

using TerminalEvents = std::function<void(const TerminalEvent&)>;

// Sees every chunk of output as it arrives, on the terminal's thread: it must not block.
using OutputWatcher = std::function<void(std::string_view)>;

class Terminal {
 public:
  Terminal(TerminalInfo info, std::unique_ptr<TerminalBackend> backend, WindowSize size,
           TerminalEvents events);
  ~Terminal();  // hangs the shell up if it still runs and waits for the thread
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  [[nodiscard]] TerminalInfo info() const;
  [[nodiscard]] bool ended() const { return ended_.load(); }

  // The client's connection, after its opening; it speaks terminal_frames.h from here on. A
  // client attached already is told it was taken over and let go. Outside the alternate
  // screen the kept output is replayed first; then the shell is made to redraw at `size`.
  void attach(UniqueFd client, WindowSize size, pid_t client_pid);

  // Input that does not come from the attached person (a command typed for pendrel).
  void write_input(std::string bytes);

  [[nodiscard]] ScannerState scanner_state() const;
  // The backend's answer: for a local pty whether the shell itself is in the foreground;
  // nothing over SSH.
  [[nodiscard]] std::optional<bool> shell_in_foreground() const {
    return backend_->shell_in_foreground();
  }
  // Whether the person typed something since their last Enter.
  [[nodiscard]] bool person_mid_line() const;
  [[nodiscard]] std::chrono::steady_clock::time_point last_output() const;

  [[nodiscard]] std::uint64_t watch_output(OutputWatcher watcher);
  void stop_watching(std::uint64_t id);

  // For an agent's command (terminal_exec.h): one at a time, a claim fails while another holds
  // the terminal.
  [[nodiscard]] bool claim_for_agent() { return !agent_command_.exchange(true); }
  void release_from_agent() { agent_command_ = false; }

  // Ends the shell; `reason` is what the client is told when the shell gives no exit status.
  void hang_up(std::string reason);

 private:
  struct Pending;
  void run();

  mutable std::mutex mutex_;
  TerminalInfo info_;
  std::unique_ptr<TerminalBackend> backend_;
  WindowSize size_;
  TerminalEvents events_;
  UniqueFd wake_;
  std::unique_ptr<Pending> pending_;  // what other threads ask of the terminal's thread
  StreamScanner scanner_;
  bool mid_line_ = false;
  std::chrono::steady_clock::time_point last_output_;
  std::map<std::uint64_t, OutputWatcher> watchers_;
  std::uint64_t next_watcher_ = 1;
  std::atomic<bool> ended_{false};
  ShellEnding final_ending_;  // once ended_
  std::atomic<bool> agent_command_{false};
  std::thread thread_;
};

}  // namespace pendrel::desktop
