#include "desktop/broker/vault/foreign_code_check.h"

#include <elf.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <expected>
#include <set>
#include <string_view>
#include <vector>

#include "protocol/fd_io.h"

namespace pendrel::desktop {
namespace {

struct LoadedObject {
  std::string path;  // as the loader found it; empty for the program itself
  std::string soname;
};

struct LinkMap {
  std::vector<LoadedObject> objects;
  std::set<std::string> needed;  // every DT_NEEDED of every loaded object
};

std::string base_name(std::string_view path) {
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

int collect(dl_phdr_info* info, std::size_t, void* data) {
  auto& map = *static_cast<LinkMap*>(data);
  LoadedObject object{info->dlpi_name ? info->dlpi_name : "", {}};
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& header = info->dlpi_phdr[i];
    if (header.p_type != PT_DYNAMIC) continue;
    auto* dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + header.p_vaddr);
    const char* strings = nullptr;
    for (auto* entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
      if (entry->d_tag != DT_STRTAB) continue;
      // The loader relocates this entry in place, except where the section is read-only.
      ElfW(Addr) address = entry->d_un.d_ptr;
      if (address < info->dlpi_addr) address += info->dlpi_addr;
      strings = reinterpret_cast<const char*>(address);
    }
    if (strings == nullptr) continue;
    for (auto* entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
      if (entry->d_tag == DT_NEEDED) map.needed.insert(strings + entry->d_un.d_val);
      if (entry->d_tag == DT_SONAME) object.soname = strings + entry->d_un.d_val;
    }
  }
  if (object.soname.empty()) object.soname = base_name(object.path);
  map.objects.push_back(std::move(object));
  return 0;
}

std::string resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// Modules the C library loads by itself, from the system's directories.
bool system_module(const std::string& path) {
  std::string real = resolved(path);
  bool system_dir = real.starts_with("/usr/lib/") || real.starts_with("/lib/");
  std::string name = base_name(real);
  return system_dir && (name.starts_with("libnss_") || name.starts_with("libgcc_s.so") ||
                        real.find("/gconv/") != std::string::npos);
}

// The original environment block. /proc/self/environ belongs to root once the process is
// not dumpable (as the broker makes itself, and as a change of account leaves it), so the
// block is then read where /proc/self/stat says it lies: the same bytes that file shows.
std::expected<std::string, int> original_environment(const std::string& proc_self) {
  auto block = read_whole_file(proc_self + "/environ");
  if (block || proc_self != "/proc/self") return block;
  auto stat = read_whole_file(proc_self + "/stat");
  if (!stat) return std::unexpected(stat.error());
  auto fields_at = stat->rfind(')');
  if (fields_at == std::string::npos) return std::unexpected(EINVAL);
  // After the command's name: field 3 (the state) onwards; env_start and env_end are 50 and 51.
  std::vector<std::string_view> fields;
  std::string_view rest = std::string_view(*stat).substr(fields_at + 2);
  while (!rest.empty()) {
    auto space = rest.find(' ');
    fields.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  if (fields.size() < 49) return std::unexpected(EINVAL);
  auto start = std::strtoull(std::string(fields[47]).c_str(), nullptr, 10);
  auto end = std::strtoull(std::string(fields[48]).c_str(), nullptr, 10);
  if (start == 0 || end <= start || end - start > (1u << 24)) return std::unexpected(EINVAL);
  return std::string(reinterpret_cast<const char*>(start), end - start);
}

std::optional<std::string> loader_variable_reason(const std::string& proc_self) {
  auto block = original_environment(proc_self);
  if (!block) return "cannot read " + proc_self + "/environ to check the environment";
  std::string_view rest(*block);
  while (!rest.empty()) {
    auto end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    for (std::string_view name : {"LD_PRELOAD=", "LD_AUDIT=", "LD_LIBRARY_PATH="}) {
      if (entry.starts_with(name))
        return "the process was started with " + std::string(name.substr(0, name.size() - 1)) +
               " set, which can load code of anyone's choosing into it";
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::optional<std::string> tracer_reason(const std::string& proc_self) {
  auto status = read_whole_file(proc_self + "/status");
  if (!status) return "cannot read " + proc_self + "/status to check for a tracer";
  auto at = status->find("TracerPid:");
  if (at == std::string::npos) return std::nullopt;
  auto value = status->substr(at + 10, status->find('\n', at) - at - 10);
  auto digits = value.find_first_not_of(" \t");
  if (digits != std::string::npos && value[digits] != '0')
    return "the process is traced by pid " + value.substr(digits);
  return std::nullopt;
}

std::optional<std::string> link_reason(const std::string& proc_self) {
  LinkMap map;
  ::dl_iterate_phdr(collect, &map);
  std::set<std::string> loaded;
  for (const auto& object : map.objects) {
    if (object.path.empty() || object.soname.starts_with("linux-vdso")) continue;
    loaded.insert(resolved(object.path));
    if (!map.needed.contains(object.soname) && !system_module(object.path))
      return "the library " + object.path + " is loaded, and nothing of the program links it";
  }
  auto maps = read_whole_file(proc_self + "/maps");
  if (!maps) return "cannot read " + proc_self + "/maps to check the libraries";
  std::string_view rest(*maps);
  while (!rest.empty()) {
    auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    auto path_at = line.find('/');
    if (path_at != std::string_view::npos) {
      std::string path(line.substr(path_at));
      if (path.find(".so") != std::string::npos && !loaded.contains(resolved(path)) &&
          !system_module(path))
        return "the library " + path + " is mapped, and the loader does not list it";
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> foreign_code_reason(const std::string& proc_self) {
  if (auto reason = loader_variable_reason(proc_self)) return reason;
  if (auto reason = tracer_reason(proc_self)) return reason;
  return link_reason(proc_self);
}

}  // namespace pendrel::desktop
