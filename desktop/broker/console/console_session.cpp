#include "desktop/broker/console/console_session.h"

#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "desktop/broker/console/console_display.h"
#include "desktop/broker/console/console_terminal.h"
#include "desktop/broker/console/pending_questions.h"
#include "desktop/broker/vault/password_input.h"
#include "protocol/channel.h"
#include "protocol/fd_io.h"
#include "protocol/frame_reader.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A question carries the command, up to a mebibyte of it, escaped.
constexpr std::uint32_t max_event_bytes = 8u << 20;
constexpr auto event_frame_wait = 10s;

std::unexpected<ConsoleFailure> failure(std::string message, int exit_code = 1) {
  return std::unexpected(ConsoleFailure{exit_code, std::move(message)});
}

std::expected<UniqueFd, ConsoleFailure> connect_admin(const std::string& data_dir) {
  std::string path = join_path(join_path(data_dir, "run"), "admin.sock");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return failure("the socket path " + path + " is too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return failure(std::string("cannot open a socket: ") + std::strerror(errno));
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == ENOENT || errno == ECONNREFUSED)
      return failure("the service is not running; start it with pendrel-desktop serve", 3);
    return failure("cannot connect to " + path + ": " + std::strerror(errno));
  }
  return socket;
}

class Console {
 public:
  Console(UniqueFd socket, ConsoleTerminal terminal)
      : socket_(std::move(socket)), terminal_(std::move(terminal)) {}

  std::expected<void, ConsoleFailure> run() {
    if (auto sent = write_frame(socket_.get(), console_request()); !sent)
      return failure("cannot talk to the service: " + sent.error().text());
    while (!quit_) {
      draw_prompt();
      pollfd fds[3] = {{socket_.get(), POLLIN, 0},
                       {terminal_.input_fd(), POLLIN, 0},
                       {terminal_.stop_fd(), POLLIN, 0}};
      // While a question waits, the countdown is redrawn each second.
      int wait = pending_.current() ? 1000 : -1;
      int ready = ::poll(fds, 3, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return end_with(failure(std::string("poll failed: ") + std::strerror(errno)));
      }
      if (fds[2].revents != 0) break;
      if (fds[0].revents != 0) {
        auto frame = read_frame(socket_.get(), max_event_bytes,
                                FrameWait{Clock::now() + event_frame_wait, terminal_.stop_fd()});
        if (!frame) {
          if (frame.error().kind == FrameError::Kind::interrupted) break;
          return end_with(failure("the service closed the console (" + frame.error().text() + ")"));
        }
        if (auto handled = on_frame(*frame); !handled) return end_with(handled);
      }
      if (fds[1].revents != 0 && !on_keys()) break;
    }
    return end_with({});
  }

 private:
  std::expected<void, ConsoleFailure> end_with(std::expected<void, ConsoleFailure> result) {
    forget_secret();
    clear_prompt();
    return result;
  }

  void out(std::string_view text) { (void)write_all(STDOUT_FILENO, text); }
  void clear_prompt() { out("\r\033[K"); }
  // A line above the prompt, which is drawn again at the next turn.
  void say(std::string_view line) {
    clear_prompt();
    out(line);
    out("\n");
  }

  void draw_prompt() {
    PromptMode mode = !pending_.current() ? PromptMode::watching
                      : typing_for_       ? PromptMode::typing_secret
                                          : PromptMode::deciding;
    clear_prompt();
    out(prompt_line(mode, pending_.current(), pending_.seconds_left(Clock::now()),
                    pending_.size()));
  }

  std::expected<void, ConsoleFailure> on_frame(const PaddedPayload& frame) {
    auto event = decode_console_event(frame);
    if (!event) {
      if (!attached_) return failure(event.error());
      say("(an event this console does not understand: " + terminal_safe(event.error()) + ")");
      return {};
    }
    if (std::holds_alternative<AttachedEvent>(*event)) {
      attached_ = true;
      say("attached: every request shows here as it is handled; a rule match waits for you.");
    } else if (auto* feed = std::get_if<RequestFeed>(&*event)) {
      say(request_line(*feed));
    } else if (auto* ask = std::get_if<AskEvent>(&*event)) {
      bool first = pending_.current() == nullptr;
      pending_.add(*ask, Clock::now());
      clear_prompt();
      out("\a");  // the person may be looking elsewhere
      out(question_block(*ask));
      if (!first) say("(it waits behind #" + std::to_string(pending_.current()->id) + ")");
    } else if (auto* settled = std::get_if<SettledEvent>(&*event)) {
      bool was_current = pending_.current() && pending_.current()->id == settled->id;
      if (pending_.remove(settled->id)) say(settled_line(*settled));
      if (was_current) {
        forget_secret();
        if (const AskEvent* next = pending_.current()) {
          clear_prompt();
          out("now asking about:\n" + question_block(*next));
        }
      }
    } else if (auto* verdict = std::get_if<VerdictEvent>(&*event)) {
      // An accepted decision is told by its settled line already.
      if (verdict->result != "approved" && verdict->result != "refused")
        say(verdict_line(*verdict));
    }
    return {};
  }

  // False when the person quits.
  bool on_keys() {
    unsigned char keys[256];
    ssize_t got = ::read(terminal_.input_fd(), keys, sizeof keys);
    if (got == 0) return false;  // the terminal went away
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    for (ssize_t i = 0; i < got; ++i) {
      if (!on_key(keys[i])) return false;
    }
    sodium_memzero(keys, sizeof keys);
    return true;
  }

  bool on_key(unsigned char key) {
    const AskEvent* current = pending_.current();
    if (typing_for_) {
      if (!current || current->id != *typing_for_) {
        forget_secret();
        return true;
      }
      if (key == '\r' || key == '\n') {
        send_approval(*typing_for_);
      } else if (key == 0x1B) {  // Esc: back to the choice, nothing sent
        forget_secret();
      } else if (key == 0x7F || key == 0x08) {
        while (typed_ > 0 && (secret_.data()[--typed_] & 0xC0) == 0x80) {
        }
      } else if (key == 0x15) {  // Ctrl-U
        typed_ = 0;
      } else if (key == 0x04) {  // Ctrl-D
        return false;
      } else if (key >= 0x20 && typed_ < secret_.size()) {
        secret_.data()[typed_++] = key;
      }
      return true;
    }
    if (key == 'q' || key == 'Q' || key == 0x04) return false;
    if (!current) return true;
    if (key == 'r' || key == 'R') {
      (void)write_frame(socket_.get(), refusal_request(current->id));
    } else if (key == 'a' || key == 'A') {
      // A key alone never approves: the secret follows, and the service checks it.
      typing_for_ = current->id;
      secret_ = SecretString(max_password_bytes);
      typed_ = 0;
    }
    return true;
  }

  void send_approval(std::uint64_t id) {
    if (typed_ == 0) {
      say("nothing typed: nothing sent");
      forget_secret();
      return;
    }
    SecretString typed = SecretString::copy_of(secret_.view().substr(0, typed_));
    forget_secret();
    SecretBytes request = approval_request(id, typed);
    say("#" + std::to_string(id) + ": checking the secret…");
    if (auto sent = write_frame(socket_.get(), request.view()); !sent)
      say("cannot send it: " + sent.error().text());
  }

  void forget_secret() {
    typing_for_.reset();
    secret_ = SecretString();  // wiped as it goes
    typed_ = 0;
  }

  UniqueFd socket_;
  ConsoleTerminal terminal_;
  PendingQuestions pending_;
  bool attached_ = false;
  bool quit_ = false;
  std::optional<std::uint64_t> typing_for_;  // the question the secret being typed is for
  SecretString secret_;
  std::size_t typed_ = 0;
};

}  // namespace

std::expected<void, ConsoleFailure> run_console(const std::string& data_dir) {
  auto terminal = ConsoleTerminal::open();
  if (!terminal) return failure(terminal.error());
  auto socket = connect_admin(data_dir);
  if (!socket) return std::unexpected(socket.error());
  return Console(std::move(*socket), std::move(*terminal)).run();
}

}  // namespace pendrel::desktop
