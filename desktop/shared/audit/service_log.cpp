#include "desktop/shared/audit/service_log.h"

#include <unistd.h>

#include "desktop/shared/audit/utc_time.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {

ServiceLog ServiceLog::to_stderr() {
  return ServiceLog{};
}

ServiceLog ServiceLog::to_file(const std::string& logs_dir) {
  ServiceLog log;
  log.file_ = std::make_shared<RotatingFile>(join_path(logs_dir, "pendrel-desktop.log"),
                                             Rotation{5u << 20, 1});
  return log;
}

void ServiceLog::write(std::string_view text) const {
  std::string line = utc_timestamp(std::chrono::system_clock::now());
  line += " pendrel-desktop[" + std::to_string(::getpid()) + "]: ";
  line += text;
  line += '\n';
  if (file_ && file_->append(line)) return;
  // Nothing to do when even standard error refuses the line.
  (void)write_all(STDERR_FILENO, line);
}

}  // namespace pendrel::desktop
