// The look at an upload's local file before anything is sent, shared by both front ends.
#pragma once

#include <optional>
#include <string>

#include "i18n/language.h"
#include "output/failure.h"

namespace pendrel {

// Nothing when `local` names a regular file (following symbolic links). Otherwise the failure,
// exit code 1: path_not_found or permission_denied with the path as message, usage for a
// directory, another kind of file, or any other reason it cannot be examined.
[[nodiscard]] std::optional<CliFailure> examine_upload_source(const std::string& local,
                                                              Language language);

}  // namespace pendrel
