// Whole writes to a descriptor: short writes continue, interrupted writes are repeated.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "protocol/io_error.h"

namespace pendrel {

// A write that accepts zero bytes fails with "failed to write whole buffer".
[[nodiscard]] std::expected<void, IoError> write_all(int fd, std::string_view data);

}  // namespace pendrel

namespace pendrel {

// Everything left to read from `fd`, or the errno of the failing read.
[[nodiscard]] std::expected<std::string, int> read_to_end(int fd);

// The whole content of the file at `path`, or the errno of the failing call.
[[nodiscard]] std::expected<std::string, int> read_whole_file(const std::string& path);

}  // namespace pendrel
