// The service's own log: one timestamped line per event, to standard error (`serve`) or to
// logs/pendrel-desktop.log (`--headless`, whose standard streams are /dev/null).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "desktop/shared/audit/rotating_file.h"

namespace pendrel::desktop {

class ServiceLog {
 public:
  // Lines go to standard error.
  static ServiceLog to_stderr();
  // Lines go to <logs_dir>/pendrel-desktop.log, rotated at 5 MiB keeping one old file; a
  // line that cannot be written there goes to standard error instead.
  static ServiceLog to_file(const std::string& logs_dir);

  // "2026-12-08T03:04:05.678Z pendrel-desktop[1234]: text\n", in one write. Thread-safe.
  void write(std::string_view text) const;

 private:
  std::shared_ptr<RotatingFile> file_;  // nothing: standard error
};

}  // namespace pendrel::desktop
