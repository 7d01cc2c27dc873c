#include "mcp/line_writer.h"

#include "protocol/fd_io.h"

namespace pendrel::mcp {

void LineWriter::write(std::string_view line) {
  const std::lock_guard lock(mutex_);
  (void)write_all(fd_, line);
}

}  // namespace pendrel::mcp
