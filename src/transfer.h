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
  std::string local;  // absolute, as text
  std::string remote;
};

// Exactly three arguments: host, then local and remote path in the direction's order; none
// may be empty. The local path is made absolute against the working directory without
// touching the file system ("." dropped, ".." kept, a trailing slash kept); bytes of the
// working directory that are not UTF-8 become U+FFFD. The error is the message in the chosen
// language (usage, empty path, or the working directory unknown with the system's error text).
[[nodiscard]] std::expected<TransferArgs, std::string> parse_transfer_arguments(Direction direction,
                                                                                Arguments rest,
                                                                                Language language);

// 0 when `local` names a regular file (following symbolic links). Otherwise the failure is
// reported, exit code 1: path_not_found or permission_denied with the path as detail, usage
// for a directory, another kind of file, or any other reason it cannot be examined.
int check_upload_source(Output& output, const std::string& local);

int run_transfer(const Invocation& invocation, Direction direction, Arguments rest);

}  // namespace pendrel
