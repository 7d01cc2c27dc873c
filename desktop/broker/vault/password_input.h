// Reading the master password from the terminal with echo off, or from a descriptor.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/broker/vault/secret_bytes.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

constexpr std::size_t max_password_bytes = 1024;

enum class PasswordInputFailure {
  no_terminal,  // there is no controlling terminal, or the descriptor is not one
  cancelled,    // end of input before a line, or an interrupting signal (re-raised afterwards)
  too_long,     // more than max_password_bytes before the end of the line
  empty,        // an empty line: no password is empty
  mismatch,     // the two entries of a new password differ
  io_failed,
};

struct PasswordInputError {
  PasswordInputFailure failure = PasswordInputFailure::io_failed;
  std::string detail;
};

// Where the password comes from: the controlling terminal, or for scripts the descriptor of
// `--password-fd N` (anything that can read that descriptor, or the file or pipe behind it,
// learns the password).
struct PasswordSource {
  std::optional<int> descriptor;
};

// /dev/tty, for reading and writing; or a copy of the descriptor given to
// use_terminal_descriptor.
[[nodiscard]] std::expected<UniqueFd, PasswordInputError> open_terminal();

// A person's command run inside the broker has no controlling terminal: the person's terminal
// arrives as a descriptor, which open_terminal then gives out. Call it once, at the start.
void use_terminal_descriptor(int fd);

// Writes `prompt` to the terminal `tty` and reads one line with echo off. The terminal's
// settings are restored on every way out; SIGINT, SIGTERM, SIGHUP and SIGQUIT while waiting
// restore them, answer cancelled, and are raised again once the settings are back, so their
// usual effect follows. Call it from a single-threaded process (an admin command).
[[nodiscard]] std::expected<SecretString, PasswordInputError> read_password_from_terminal(
    int tty, std::string_view prompt);

// One line from `fd`, without its line feed (or carriage return and line feed); the end of
// input also ends the line. Reads byte by byte, so a second call reads the next line.
[[nodiscard]] std::expected<SecretString, PasswordInputError> read_password_from_descriptor(int fd);

// The password for unlocking: from the source's descriptor, or asked on the terminal.
[[nodiscard]] std::expected<SecretString, PasswordInputError> read_password(
    const PasswordSource& source, std::string_view prompt);

// A new password (init, passwd): asked twice on the terminal, the entries compared; from a
// descriptor it is read once, a script having no typing mistakes to catch.
[[nodiscard]] std::expected<SecretString, PasswordInputError> read_new_password(
    const PasswordSource& source, std::string_view prompt, std::string_view confirm_prompt);

}  // namespace pendrel::desktop
