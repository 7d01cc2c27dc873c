// New host ids: short, random, and never one already in use.
#pragma once

#include <expected>
#include <string>
#include <vector>

#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

inline constexpr std::size_t host_id_length = 8;

// Eight characters of a-z and 0-9 from getrandom, unlike every id in `existing`. Fails with
// the errno of getrandom.
[[nodiscard]] std::expected<std::string, int> generate_host_id(
    const std::vector<HostRecord>& existing);

}  // namespace pendrel::desktop
