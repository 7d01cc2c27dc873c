// pendrel upload and download: one file each way, with absolute local paths.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "app/command.h"

namespace pendrel {

enum class Direction { upload, download };

struct TransferArgs {
  Direction direction = Direction::upload;
  std::string host;
  std::string local;  // absolute
  std::string remote;
};

// Exactly three arguments: host, then local and remote path in the direction's order.
[[nodiscard]] std::expected<TransferArgs, std::string> parse_transfer_arguments(
    Direction direction, Arguments rest, Language language);

int run_transfer(const Invocation& invocation, Direction direction, Arguments rest);

}  // namespace pendrel
