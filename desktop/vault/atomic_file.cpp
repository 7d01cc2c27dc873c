#include "desktop/vault/atomic_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "desktop/vault/secret_bytes.h"
#include "protocol/fd_io.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

#include <sodium.h>

namespace pendrel::desktop {
namespace {

std::unexpected<AtomicWriteError> failure(std::string_view step, int error_number) {
  return std::unexpected(AtomicWriteError{AtomicWriteError::Kind::os,
                                          std::string(step) + ": " + os_error_text(error_number)});
}

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name no other writer picks: the process id and random bits.
std::string temporary_name_for(const std::string& path) {
  ensure_sodium_ready();
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(randombytes_random());
}

// Moves `from` to `to` without replacing an existing `to`. renameat2 is not supported by every
// file system; a hard link gives the same guarantee where it is not.
int rename_without_replacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

std::expected<void, AtomicWriteError> write_and_sync(const std::string& temporary,
                                                     std::span<const unsigned char> bytes) {
  UniqueFd file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file) return failure("create " + temporary, errno);
  // The umask can only take bits away; set the mode exactly anyway.
  if (::fchmod(file.get(), 0600) != 0) return failure("chmod " + temporary, errno);
  auto written = write_all(
      file.get(), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!written) {
    return std::unexpected(AtomicWriteError{AtomicWriteError::Kind::os,
                                            "write " + temporary + ": " + written.error().text()});
  }
  if (::fsync(file.get()) != 0) return failure("fsync " + temporary, errno);
  if (::close(file.release()) != 0) return failure("close " + temporary, errno);
  return {};
}

}  // namespace

std::expected<void, AtomicWriteError> write_file_atomically(const std::string& path,
                                                            std::span<const unsigned char> bytes,
                                                            ExistingFile existing) {
  const std::string temporary = temporary_name_for(path);
  if (auto written = write_and_sync(temporary, bytes); !written) {
    ::unlink(temporary.c_str());
    return written;
  }
  if (existing == ExistingFile::keep) {
    if (int error = rename_without_replacing(temporary, path); error != 0) {
      ::unlink(temporary.c_str());
      if (error == EEXIST) {
        return std::unexpected(AtomicWriteError{AtomicWriteError::Kind::exists, path + " exists"});
      }
      return failure("rename to " + path, error);
    }
  } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return failure("rename to " + path, error);
  }
  // The rename is durable only once the directory entry is.
  const std::string directory = directory_of(path);
  UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return failure("open " + directory, errno);
  if (::fsync(dir.get()) != 0) return failure("fsync " + directory, errno);
  return {};
}

}  // namespace pendrel::desktop
