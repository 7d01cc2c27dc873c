#include "desktop/shared/store/data_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <expected>

#include "desktop/shared/store/hosts_file.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

struct Snapshot {
  bool present = false;
  struct stat info {};
  std::string content;
};

// Far more than any hosts or settings file the service writes; one beyond it was put there by
// something else, and reading it whole would make the service hold whatever size it has.
constexpr off_t max_data_file_bytes = 16 * 1024 * 1024;

// The file's identity and content read through one descriptor, so that the stamp kept
// belongs to the content parsed even when the file is replaced meanwhile. Only a regular file
// is read: a FIFO would block the open (and every request behind the store's lock), a device
// such as /dev/zero would never end.
std::expected<Snapshot, std::string> read_snapshot(const std::string& path) {
  Snapshot snapshot;
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file) {
    if (errno == ENOENT) return snapshot;
    return std::unexpected(os_error_text(errno));
  }
  if (::fstat(file.get(), &snapshot.info) != 0) return std::unexpected(os_error_text(errno));
  if (!S_ISREG(snapshot.info.st_mode)) return std::unexpected(std::string("not a regular file"));
  if (snapshot.info.st_size > max_data_file_bytes) {
    return std::unexpected(std::to_string(snapshot.info.st_size) + " bytes, more than the " +
                           std::to_string(max_data_file_bytes) + " a data file may hold");
  }
  snapshot.present = true;
  auto content = read_to_end(file.get());
  if (!content) return std::unexpected(os_error_text(content.error()));
  if (content->size() > static_cast<std::size_t>(max_data_file_bytes)) {
    return std::unexpected(std::string("grew past ") + std::to_string(max_data_file_bytes) +
                           " bytes while it was read");
  }
  snapshot.content = std::move(*content);
  return snapshot;
}

template <typename Stamp>
Stamp stamp_of(const struct stat& info, bool present) {
  Stamp stamp;
  stamp.present = present;
  if (present) {
    stamp.inode = info.st_ino;
    stamp.size = static_cast<unsigned long long>(info.st_size);
    stamp.mtime_ns =
        static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec;
  }
  return stamp;
}

template <typename Stamp>
bool same_stamp(const Stamp& a, const Stamp& b) {
  return a.present == b.present && a.inode == b.inode && a.size == b.size &&
         a.mtime_ns == b.mtime_ns;
}

long long wall_clock_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// File times advance in coarse ticks, so a write of the same size soon after the one that was
// read can leave the stamp unchanged. A file read less than this long after its last change
// is read again at every call until it has aged, and such an edit is never missed.
constexpr long long racy_window_ns = 2'000'000'000LL;

template <typename Stamp>
bool racily_clean(const Stamp& stamp) {
  return stamp.present && stamp.read_at_ns - stamp.mtime_ns < racy_window_ns;
}

// Re-reads `name` when its stamp changed; `parse` turns the content into the value kept.
template <typename Stamp, typename Value, typename Parse>
void refresh(const std::string& data_dir, std::string_view name, Stamp& stamp, Value& value,
             const Value& empty, const StoreReport& report, Parse parse) {
  std::string path = join_path(data_dir, name);
  struct stat info {};
  bool present = ::stat(path.c_str(), &info) == 0;
  bool changed = !same_stamp(stamp, stamp_of<Stamp>(info, present));
  if (!changed && !racily_clean(stamp)) return;
  long long read_at = wall_clock_ns();
  auto snapshot = read_snapshot(path);
  if (!snapshot) {
    // Unreadable now: keep what was good, say so, and try again at the next change.
    stamp = stamp_of<Stamp>(info, present);
    stamp.read_at_ns = read_at;
    if (report && changed) report(path + ": " + snapshot.error() + "; keeping the last good state");
    return;
  }
  stamp = stamp_of<Stamp>(snapshot->info, snapshot->present);
  stamp.read_at_ns = read_at;
  if (!snapshot->present) {
    value = empty;
    return;
  }
  auto parsed = parse(snapshot->content);
  if (!parsed) {
    // A re-read of an unchanged stamp was reported when the stamp last changed.
    if (report && changed) report(path + ": " + parsed.error() + "; keeping the last good state");
    return;
  }
  value = std::move(*parsed);
}

}  // namespace

DataStore::DataStore(std::string data_dir, StoreReport report)
    : data_dir_(std::move(data_dir)), report_(std::move(report)) {}

std::vector<HostRecord> DataStore::hosts() {
  std::lock_guard lock(mutex_);
  refresh(data_dir_, hosts_file_name, hosts_stamp_, hosts_, std::vector<HostRecord>{}, report_,
          parse_hosts);
  return hosts_;
}

Settings DataStore::settings() {
  std::lock_guard lock(mutex_);
  refresh(data_dir_, settings_file_name, settings_stamp_, settings_, Settings{}, report_,
          parse_settings);
  return settings_;
}

}  // namespace pendrel::desktop
