// Writing the agent skill file into place: the only file this program ever writes.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "protocol/io_error.h"

namespace pendrel {

enum class SkillFilePreviously { absent, present };

// Writes `content` to the absolute `file_path`: creates the parent directory with every missing
// ancestor (0777 before the umask), then creates (0600) or truncates the file (keeping its mode)
// and writes it whole. Says whether a file was already there (stat, following links).
// Fails with the first operating-system error, or "failed to write whole buffer" when a write
// accepts nothing. On failure, directories already made stay; the file may be left truncated.
[[nodiscard]] std::expected<SkillFilePreviously, IoError> install_skill_file(
    const std::string& file_path, std::string_view content);

}  // namespace pendrel
