#include "desktop/broker/admin/terminal_question.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>

#include "desktop/broker/vault/password_input.h"
#include "protocol/fd_io.h"

namespace pendrel::desktop {
namespace {

// A longer answer is not a yes; reading stops there and the rest of the line is left.
constexpr std::size_t max_answer_bytes = 16;

bool is_yes(std::string answer) {
  for (char& c : answer)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
    answer.pop_back();
  return answer == "y" || answer == "yes";
}

}  // namespace

std::expected<bool, AdminFailure> ask_yes_no(std::string_view question,
                                             std::string_view without_terminal) {
  auto tty = open_terminal();
  if (!tty)
    return std::unexpected(bad_input("no terminal to ask on; " + std::string(without_terminal)));
  if (auto written = write_all(tty->get(), question); !written)
    return std::unexpected(bad_input("cannot write to the terminal: " + written.error().text()));
  std::string answer;
  char c = 0;
  while (answer.size() <= max_answer_bytes) {
    ssize_t got = ::read(tty->get(), &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    answer.push_back(c);
  }
  return is_yes(std::move(answer));
}

}  // namespace pendrel::desktop
