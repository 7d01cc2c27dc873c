#include "protocol/lexical_path.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pendrel {
namespace {

// Appends the components of `path` to `out` with single slashes, dropping "." and empties.
void append_components(std::string& out, std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (out.empty() || out.back() != '/') out += '/';
      out += component;
    }
    start = end + 1;
  }
}

std::string_view root_of(std::string_view absolute) {
  std::size_t slashes = absolute.find_first_not_of('/');
  if (slashes == std::string_view::npos) slashes = absolute.size();
  return slashes == 2 ? "//" : "/";
}

}  // namespace

std::string absolute_lexically(std::string_view path, std::string_view working_dir) {
  std::string result;
  if (!path.empty() && path.front() == '/') {
    result = root_of(path);
  } else {
    result = root_of(working_dir);
    append_components(result, working_dir);
  }
  append_components(result, path);
  if (!path.empty() && path.back() == '/' && result.back() != '/') result += '/';
  return result;
}

std::expected<std::string, int> current_working_directory() {
  std::vector<char> buffer(4096);
  while (true) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return std::unexpected(errno);
    buffer.resize(buffer.size() * 2);
  }
}

std::expected<std::string, int> make_absolute(std::string_view path,
                                              const WorkingDirectoryQuery& working_directory) {
  if (!path.empty() && path.front() == '/') return absolute_lexically(path, "/");
  auto working_dir = working_directory();
  if (!working_dir) return std::unexpected(working_dir.error());
  return absolute_lexically(path, *working_dir);
}

std::expected<std::string, int> make_absolute(std::string_view path) {
  return make_absolute(path, current_working_directory);
}

std::string join_path(std::string_view directory, std::string_view name) {
  std::string joined(directory);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

}  // namespace pendrel
