// The desktop application's data directory, found by the same rule the application uses.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>

#include "protocol/environment.h"

namespace pendrel {

// Why no data directory could be found. Its text is Chinese only, shown as it is.
struct DataDirError {
  enum class Kind { no_config_dir, bad_override };
  Kind kind = Kind::no_config_dir;
  int error_number = 0;  // bad_override: the errno of reading the working directory

  // "找不到系统的配置目录" or "PENDREL_DATA_DIR 不是有效的路径（{os error text}）".
  [[nodiscard]] std::string text() const;
};

// The login directory of the real user's password-database entry; nothing when there is no
// entry, the lookup fails, or the directory is empty.
[[nodiscard]] std::optional<std::string> password_database_home();

// The operating-system queries behind the data-directory rule, so that tests can choose the
// working directory and simulate a missing password-database entry.
struct DataDirQueries {
  std::function<std::expected<std::string, int>()> working_directory;  // value or errno
  std::function<std::optional<std::string>()> home_from_password_database;
};

// The queries of the running process: getcwd and getpwuid_r of getuid.
[[nodiscard]] DataDirQueries system_data_dir_queries();

// PENDREL_DATA_DIR (made absolute lexically) when set and not empty; otherwise the
// configuration directory (XDG_CONFIG_HOME when absolute, else HOME or the password
// database's home joined with ".config") joined with "pendrel". Raw bytes throughout.
// Fails with bad_override when a relative override meets an unreadable working directory
// (never falls back), and with no_config_dir when no home directory is known.
[[nodiscard]] std::expected<std::string, DataDirError> find_data_dir(
    const Environment& environment);
[[nodiscard]] std::expected<std::string, DataDirError> find_data_dir(const Environment& environment,
                                                                     const DataDirQueries& queries);

// The directory made absolute lexically; unchanged when the working directory is unknown.
[[nodiscard]] std::string working_form(const std::string& data_dir);

}  // namespace pendrel
