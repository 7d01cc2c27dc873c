// Copying one file for a LOCAL host, with scp's target rules.
#pragma once

#include <expected>
#include <string>

#include "protocol/messages.h"

namespace pendrel::desktop {

// The path a copy of `source` to `target` writes: a target that is an existing directory or
// ends with "/" gets the source's file name appended; otherwise the target itself.
[[nodiscard]] std::string scp_target_path(const std::string& source, const std::string& target);

enum class Direction { upload, download };

// Copies `source` to its scp target through a temporary file beside it, then renames, so a
// failed copy never leaves a half file under the target's name; an existing file is
// overwritten. The answer's `local` and `remote` are the paths actually used (for an upload
// local = source, remote = the target written; for a download the other way round), with the
// byte count and the duration. A missing source is path_not_found, a refused one
// permission_denied, a source that is a directory bad_request, a target that is a directory
// after the rule path_exists.
[[nodiscard]] std::expected<TransferResponse, ErrorBody> copy_local_file(Direction direction,
                                                                         const std::string& source,
                                                                         const std::string& target);

}  // namespace pendrel::desktop
