#include "desktop/broker/admin/passed_file.h"

#include <cerrno>
#include <string_view>

#include "protocol/decimal.h"
#include "protocol/fd_io.h"

namespace pendrel::desktop {

std::expected<std::string, int> read_passed_file(const std::string& path) {
  constexpr std::string_view descriptor_prefix = "/dev/fd/";
  if (!path.starts_with(descriptor_prefix)) return read_whole_file(path);
  auto number = parse_decimal_u32(std::string_view(path).substr(descriptor_prefix.size()));
  if (!number || *number > 1024) return std::unexpected(EBADF);
  return read_to_end(static_cast<int>(*number));
}

}  // namespace pendrel::desktop
