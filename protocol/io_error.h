// IoError: an operating-system error, or one of the channel's fixed I/O errors without a number.
#pragma once

#include <string>
#include <string_view>

namespace pendrel {

struct IoError {
  enum class Kind { os, invalid_input, write_zero, unexpected_eof };

  Kind kind = Kind::os;
  int error_number = 0;         // set for Kind::os only
  std::string_view fixed_text;  // set for the other kinds

  [[nodiscard]] static IoError from_errno(int error_number) {
    return IoError{Kind::os, error_number, {}};
  }
  [[nodiscard]] static IoError fixed(Kind kind, std::string_view text) {
    return IoError{kind, 0, text};
  }

  // True for the errors that mean the peer went away: connection reset or aborted,
  // broken pipe, and an unexpected end of file.
  [[nodiscard]] bool means_peer_gone() const;

  // "{description} (os error {n})" for operating-system errors; the fixed text otherwise.
  [[nodiscard]] std::string text() const;
};

}  // namespace pendrel
