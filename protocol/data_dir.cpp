#include "protocol/data_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel {
namespace {

// No passwd entry needs more than this; stops the ERANGE loop on a broken name service.
constexpr std::size_t max_password_buffer_bytes = 1 << 20;

std::optional<std::string> find_home_dir(const Environment& environment,
                                         const DataDirQueries& queries) {
  // HOME is taken as it is, relative or not: the application does the same.
  if (auto home = environment.get_non_empty("HOME")) return std::string(*home);
  return queries.home_from_password_database();
}

std::optional<std::string> find_config_dir(const Environment& environment,
                                           const DataDirQueries& queries) {
  auto xdg = environment.get("XDG_CONFIG_HOME");
  if (xdg && xdg->starts_with('/')) return std::string(*xdg);
  auto home = find_home_dir(environment, queries);
  if (!home) return std::nullopt;
  return join_path(*home, ".config");
}

}  // namespace

std::string DataDirError::text() const {
  switch (kind) {
    case Kind::no_config_dir:
      return "找不到系统的配置目录";
    case Kind::bad_override:
      return "PENDREL_DATA_DIR 不是有效的路径（" + os_error_text(error_number) + "）";
  }
  return {};
}

std::optional<std::string> password_database_home() {
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  passwd entry{};
  passwd* found = nullptr;
  while (true) {
    int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == EINTR) continue;
    if (error == ERANGE && buffer.size() < max_password_buffer_bytes) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    if (found->pw_dir == nullptr || found->pw_dir[0] == '\0') return std::nullopt;
    return std::string(found->pw_dir);
  }
}

DataDirQueries system_data_dir_queries() {
  return DataDirQueries{current_working_directory, password_database_home};
}

std::expected<std::string, DataDirError> find_data_dir(const Environment& environment) {
  return find_data_dir(environment, system_data_dir_queries());
}

std::expected<std::string, DataDirError> find_data_dir(const Environment& environment,
                                                       const DataDirQueries& queries) {
  if (auto override_dir = environment.get_non_empty("PENDREL_DATA_DIR")) {
    auto absolute = make_absolute(*override_dir, queries.working_directory);
    if (!absolute) {
      return std::unexpected(DataDirError{DataDirError::Kind::bad_override, absolute.error()});
    }
    return *absolute;
  }
  auto config_dir = find_config_dir(environment, queries);
  if (!config_dir) return std::unexpected(DataDirError{DataDirError::Kind::no_config_dir, 0});
  return join_path(*config_dir, "pendrel");
}

std::string working_form(const std::string& data_dir) {
  auto absolute = make_absolute(data_dir);
  return absolute ? *absolute : data_dir;
}

}  // namespace pendrel
