#include "protocol/io_error.h"

#include <cerrno>

#include "protocol/os_error.h"

namespace pendrel {

bool IoError::means_peer_gone() const {
  if (kind == Kind::unexpected_eof) return true;
  if (kind != Kind::os) return false;
  return error_number == ECONNRESET || error_number == ECONNABORTED || error_number == EPIPE;
}

std::string IoError::text() const {
  if (kind == Kind::os) return os_error_text(error_number);
  return std::string(fixed_text);
}

}  // namespace pendrel
