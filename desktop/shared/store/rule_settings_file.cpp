#include "desktop/shared/store/rule_settings_file.h"

#include <cerrno>

#include "desktop/broker/rules/rule_settings_json.h"
#include "desktop/shared/store/atomic_file.h"
#include "desktop/shared/store/json_object_reader.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {

std::expected<void, std::string> save_rule_settings(const std::string& data_dir,
                                                    const RuleSettings& rules) {
  using Failure = std::unexpected<std::string>;
  std::string path = join_path(data_dir, settings_file_name);
  std::string text = "{\"version\":1}";
  if (auto content = read_whole_file(path); content && !content->empty()) {
    if (auto valid = parse_settings(*content); !valid) return Failure(path + ": " + valid.error());
    text = std::move(*content);
  } else if (!content && content.error() != ENOENT) {
    return Failure(path + ": " + os_error_text(content.error()));
  }
  if (auto written = write_file_atomically(
          path, set_object_member(text, "rules", encode_rule_settings(rules)));
      !written) {
    return Failure(written.error().text());
  }
  return {};
}

}  // namespace pendrel::desktop
