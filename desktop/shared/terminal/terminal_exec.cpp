#include "desktop/shared/terminal/terminal_exec.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "desktop/shared/terminal/busy_check.h"
#include "desktop/shared/terminal/captured_output.h"
#include "desktop/shared/terminal/typed_command.h"
#include "protocol/error_code.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;

// A terminal is given this long to show that its shell waits at its prompt (output falling
// quiet, a prompt being drawn) before it is busy, and a finished command this long for the
// prompt to come back, so that commands sent one after the other find it ready.
constexpr auto settle_time = 1s;
// A local shell back in the foreground this long without the end mark: the person's Ctrl-C
// ended the command, in a shell that gives no prompt signal of its own. The end mark is written
// before the shell takes the foreground back, so by then the terminal has read it if it came.
constexpr auto local_prompt_back_time = 500ms;
// At the prompt this long after the typing, without the start mark: the line never ran (a
// Ctrl-C while it was being typed discards it).
constexpr auto lost_line_time = 3s;
constexpr int check_interval_ms = 50;

ErrorBody error_of(ErrorCode code, std::string detail) {
  return ErrorBody{std::string(info_for(code).name), std::move(detail)};
}

TerminalFacts facts_of(const Terminal& terminal) {
  const ScannerState state = terminal.scanner_state();
  TerminalFacts facts;
  facts.shell_in_foreground = terminal.shell_in_foreground();
  facts.alternate_screen = state.alternate_screen;
  facts.editor_signals_seen = state.bracketed_paste_seen || state.prompt != PromptMark::none;
  facts.editor_at_prompt = state.bracketed_paste || state.prompt == PromptMark::prompt ||
                           state.prompt == PromptMark::input;
  facts.person_typing = terminal.person_mid_line();
  facts.since_last_output =
      std::chrono::duration_cast<milliseconds>(Clock::now() - terminal.last_output());
  return facts;
}

// "s1 of web-1"
std::string terminal_name(const TerminalInfo& info) {
  return "terminal " + info.id + " of " + info.host_name;
}

// The newest terminal of the host with a person attached, or why there is none.
std::expected<std::shared_ptr<Terminal>, ErrorBody> choose_terminal(TerminalRegistry& terminals,
                                                                    std::string_view host_id,
                                                                    std::string_view host_name) {
  const auto open = terminals.open_terminals();  // oldest first
  std::string unattached;
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    const TerminalInfo info = (*it)->info();
    if (info.host_id != host_id) continue;
    if (info.attached) return *it;
    unattached += (unattached.empty() ? "" : ", ") + info.id;
  }
  const std::string name(host_name);
  if (unattached.empty())
    return std::unexpected(
        error_of(ErrorCode::terminal_not_open,
                 "no terminal of " + name +
                     " is open; the person opens one with `pendrel-desktop term " + name + "`"));
  return std::unexpected(
      error_of(ErrorCode::terminal_not_open,
               "no one is attached to the open terminals of " + name + " (" + unattached +
                   "); a command is typed only where the person sees it: `pendrel-desktop attach " +
                   unattached.substr(0, unattached.find(',')) + "`"));
}

// The capture, fed on the terminal's thread; the request's thread waits on `done`.
struct Capture {
  explicit Capture(std::string nonce) : captured(std::move(nonce)) {}
  std::mutex mutex;
  CapturedOutput captured;
  UniqueFd done{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

  void feed(std::string_view output) {
    std::lock_guard lock(mutex);
    if (captured.stage() == CapturedOutput::Stage::finished) return;
    captured.feed(output);
    if (captured.stage() == CapturedOutput::Stage::finished) {
      std::uint64_t one = 1;
      (void)::write(done.get(), &one, sizeof one);
    }
  }
  CapturedOutput::Stage stage() {
    std::lock_guard lock(mutex);
    return captured.stage();
  }
  void note_prompt_returned() {
    std::lock_guard lock(mutex);
    captured.note_prompt_returned();
  }
  CapturedAnswer answer() {
    std::lock_guard lock(mutex);
    return captured.answer();
  }
};

enum class Interruption { none, caller_gone, stopping };

// Waits up to `time` while `still_busy()` holds; what cut the wait short, if anything.
template <typename StillBusy>
Interruption wait_while(StillBusy still_busy, Clock::duration time, TerminalExecWatch watch) {
  const auto deadline = Clock::now() + time;
  while (still_busy() && Clock::now() < deadline) {
    pollfd fds[2] = {{watch.caller_socket, POLLIN | POLLRDHUP, 0}, {watch.abandon_fd, POLLIN, 0}};
    if (::poll(fds, 2, check_interval_ms) > 0) {
      if (fds[1].revents != 0) return Interruption::stopping;
      if (fds[0].revents != 0) return Interruption::caller_gone;
    }
  }
  return Interruption::none;
}

class AgentClaim {
 public:
  explicit AgentClaim(Terminal& terminal)
      : terminal_(terminal), held_(terminal.claim_for_agent()) {}
  ~AgentClaim() {
    if (held_) terminal_.release_from_agent();
  }
  AgentClaim(const AgentClaim&) = delete;
  AgentClaim& operator=(const AgentClaim&) = delete;
  [[nodiscard]] bool held() const { return held_; }

 private:
  Terminal& terminal_;
  bool held_;
};

class OutputWatch {
 public:
  OutputWatch(Terminal& terminal, std::shared_ptr<Capture> capture)
      : terminal_(terminal),
        id_(terminal.watch_output([capture](std::string_view output) { capture->feed(output); })) {}
  ~OutputWatch() { terminal_.stop_watching(id_); }
  OutputWatch(const OutputWatch&) = delete;
  OutputWatch& operator=(const OutputWatch&) = delete;

 private:
  Terminal& terminal_;
  std::uint64_t id_;
};

}  // namespace

TerminalExecOutcome exec_in_terminal(TerminalRegistry& terminals, std::string_view host_id,
                                     std::string_view host_name, std::string_view command,
                                     TerminalExecWatch watch) {
  if (command.find('\0') != std::string_view::npos)
    return {std::unexpected(error_of(ErrorCode::bad_request,
                                     "the command holds a NUL byte, which no shell can be given")),
            ""};
  auto chosen = choose_terminal(terminals, host_id, host_name);
  if (!chosen) return {std::unexpected(std::move(chosen.error())), ""};
  Terminal& terminal = **chosen;
  const TerminalInfo info = terminal.info();
  TerminalExecOutcome outcome{std::unexpected(ErrorBody{}), info.id};
  auto fail = [&](ErrorCode code, std::string detail) {
    outcome.result = std::unexpected(error_of(code, std::move(detail)));
    return outcome;
  };
  auto interrupted = [&](Interruption why) {
    return fail(ErrorCode::canceled, why == Interruption::stopping
                                         ? "the service is stopping"
                                         : "the caller went away before anything was typed");
  };

  AgentClaim claim(terminal);
  if (!claim.held())
    return fail(ErrorCode::terminal_busy,
                terminal_name(info) +
                    " is busy: " + std::string(busy_reason_text(BusyReason::agent_command)));
  // A shell between two commands (the person's Enter taken, the prompt not yet drawn) is
  // given a moment to show where it stands; the person's half-typed line is theirs at once.
  // Nothing is typed into a terminal that stays busy.
  BusyReason reason = BusyReason::none;
  auto still_busy = [&] {
    reason = check_busy(facts_of(terminal));
    return reason != BusyReason::none && reason != BusyReason::person_typing;
  };
  if (auto why = wait_while(still_busy, settle_time, watch); why != Interruption::none)
    return interrupted(why);
  if (reason != BusyReason::none)
    return fail(ErrorCode::terminal_busy,
                terminal_name(info) + " is busy: " + std::string(busy_reason_text(reason)));

  const BracketedPaste paste =
      terminal.scanner_state().bracketed_paste ? BracketedPaste::on : BracketedPaste::off;
  const TypedCommand typed = type_command(command, fresh_nonce(), paste);
  auto capture = std::make_shared<Capture>(typed.nonce);
  OutputWatch watching(terminal, capture);
  std::string input;
  for (const auto& line : typed.lines)
    input += line;
  const auto started = Clock::now();
  terminal.write_input(std::move(input));

  // Since when the shell has looked back at its prompt; the epoch while it has not.
  Clock::time_point shell_back_since{};
  Clock::time_point idle_since{};
  for (;;) {
    pollfd fds[3] = {{capture->done.get(), POLLIN, 0},
                     {watch.caller_socket, POLLIN | POLLRDHUP, 0},
                     {watch.abandon_fd, POLLIN, 0}};
    (void)::poll(fds, 3, check_interval_ms);
    const CapturedOutput::Stage stage = capture->stage();
    if (stage == CapturedOutput::Stage::finished) break;
    if (fds[2].revents != 0) return fail(ErrorCode::canceled, "the service is stopping");
    if (fds[1].revents != 0) {
      // Once, as the person would: a command that ignores it is theirs to deal with.
      terminal.write_input("\x03");
      return fail(ErrorCode::canceled,
                  "the caller went away; Ctrl-C was typed into " + terminal_name(info));
    }
    if (terminal.ended())
      return fail(ErrorCode::connect_failed,
                  terminal_name(info) + " closed before the command's end");
    const TerminalFacts facts = facts_of(terminal);
    const auto now = Clock::now();
    if (stage == CapturedOutput::Stage::capturing && facts.shell_in_foreground == true) {
      if (shell_back_since == Clock::time_point{}) shell_back_since = now;
      if (now - shell_back_since >= local_prompt_back_time) capture->note_prompt_returned();
    } else {
      shell_back_since = {};
    }
    if (stage == CapturedOutput::Stage::waiting_for_start &&
        check_busy(facts) == BusyReason::none) {
      if (idle_since == Clock::time_point{}) idle_since = now;
      if (now - idle_since >= lost_line_time) capture->note_prompt_returned();
    } else {
      idle_since = {};
    }
  }
  const auto ended = Clock::now();
  const CapturedAnswer answer = capture->answer();
  // The next command finds the prompt back rather than a shell still finishing this one.
  (void)wait_while(
      [&] {
        const BusyReason now = check_busy(facts_of(terminal));
        return now != BusyReason::none && now != BusyReason::output_flowing;
      },
      settle_time, watch);
  ExecResponse response;
  response.exit_code = answer.exit_code;
  response.stdout_text = answer.output.text;
  response.truncated = answer.output.truncated;
  response.duration_ms =
      static_cast<std::uint64_t>(std::chrono::duration_cast<milliseconds>(ended - started).count());
  outcome.result = std::move(response);
  return outcome;
}

}  // namespace pendrel::desktop
