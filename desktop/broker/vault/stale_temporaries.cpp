#include "desktop/broker/vault/stale_temporaries.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "desktop/broker/vault/plain_hosts.h"
#include "protocol/decimal.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {

std::vector<std::string> remove_stale_vault_temporaries(const std::string& data_dir) {
  std::vector<std::string> removed;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(data_dir.c_str()), ::closedir);
  if (!dir) return removed;
  const std::string prefix = std::string(vault_file_name) + ".tmp-";
  while (dirent* entry = ::readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    std::string_view rest = name.substr(prefix.size());
    auto pid = parse_decimal_u32(rest.substr(0, rest.find('-')));
    if (!pid || *pid == 0) continue;
    if (::kill(static_cast<pid_t>(*pid), 0) == 0 || errno != ESRCH) continue;
    std::string path = join_path(data_dir, name);
    if (::unlink(path.c_str()) == 0) removed.push_back(std::string(name));
  }
  return removed;
}

}  // namespace pendrel::desktop
