// The service's view of the files in the data directory (hosts, settings, launch settings),
// re-read when they change so that a person's edit takes effect at the next request.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/shared/store/host_record.h"
#include "desktop/shared/store/settings.h"

namespace pendrel::desktop {

// Receives one line for the service log when a file cannot be read or is invalid.
using StoreReport = std::function<void(std::string_view line)>;

class DataStore {
 public:
  DataStore(std::string data_dir, StoreReport report);

  // The current hosts and settings. A file whose identity (inode, size, modification time)
  // changed since the last read is read again; one that is missing counts as empty (default
  // settings, no hosts); one that fails to read or parse keeps the last good state and is
  // reported once per change. Safe to call from any thread.
  [[nodiscard]] std::vector<HostRecord> hosts();
  [[nodiscard]] Settings settings();

 private:
  // The private members are the implementation's to change.
  std::string data_dir_;
  StoreReport report_;
  std::mutex mutex_;
  std::vector<HostRecord> hosts_;
  Settings settings_;
  struct FileStamp {
    unsigned long long inode = 0, size = 0;
    long long mtime_ns = -1;
    long long read_at_ns = 0;  // the wall-clock time of the read this stamp belongs to
    bool present = false;
  } hosts_stamp_, settings_stamp_;
};

}  // namespace pendrel::desktop
