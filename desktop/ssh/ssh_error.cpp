#include "desktop/ssh/ssh_error.h"

#include <utility>

namespace pendrel::desktop {

ErrorBody ssh_failure(ErrorCode code, std::string message) {
  return ErrorBody{std::string(info_for(code).name), std::move(message)};
}

}  // namespace pendrel::desktop
