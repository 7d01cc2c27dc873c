#include "desktop/broker/ssh/sftp_wire.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "desktop/broker/ssh/sftp_channel.h"

namespace pendrel::desktop {
namespace {

// Packet types and the status of success (draft-ietf-secsh-filexfer-02, version 3).
constexpr std::uint8_t fxp_write = 6;
constexpr std::uint8_t fxp_status = 101;
constexpr std::uint8_t fxp_extended = 200;
constexpr std::uint32_t fx_ok = 0;
// An answer longer than this is not a status; OpenSSH's own limit on messages.
constexpr std::uint32_t max_answer = 256 * 1024;

void put_u32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((value >> shift) & 0xff));
}

void put_u64(std::string& out, std::uint64_t value) {
  put_u32(out, static_cast<std::uint32_t>(value >> 32));
  put_u32(out, static_cast<std::uint32_t>(value));
}

void put_string(std::string& out, std::string_view text) {
  put_u32(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

std::uint32_t get_u32(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

WireFailure link_failure(sftp_session sftp) {
  return WireFailure{WireFailure::Kind::link, 0, ssh_get_error(sftp->session), 0, StopReason::none};
}

std::uint32_t next_id(sftp_session sftp) {
  return ++sftp->id_counter;  // libssh numbers its own requests from the same counter
}

// The header of a request whose body follows: length, type, id.
std::string request_head(std::uint8_t type, std::uint32_t id, std::size_t body_size) {
  std::string head;
  put_u32(head, static_cast<std::uint32_t>(1 + 4 + body_size));
  head.push_back(static_cast<char>(type));
  put_u32(head, id);
  return head;
}

bool send_all(sftp_session sftp, std::string_view bytes) {
  while (!bytes.empty()) {
    int sent =
        ssh_channel_write(sftp->channel, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool read_exactly(sftp_session sftp, unsigned char* into, std::size_t size) {
  while (size > 0) {
    // 0 is the end of the channel or the session's timeout: either way the link is gone.
    int got = ssh_channel_read(sftp->channel, into, static_cast<std::uint32_t>(size), 0);
    if (got <= 0) return false;
    into += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

struct Status {
  std::uint32_t id = 0;
  std::uint32_t code = 0;
  std::string message;
};

// Reads one answer, which must be a status.
std::expected<Status, WireFailure> read_status(sftp_session sftp) {
  unsigned char length_bytes[4];
  if (!read_exactly(sftp, length_bytes, 4)) return std::unexpected(link_failure(sftp));
  std::uint32_t length = get_u32(length_bytes);
  if (length < 9 || length > max_answer) {
    return std::unexpected(WireFailure{WireFailure::Kind::link, 0,
                                       "the server's SFTP answer makes no sense", 0,
                                       StopReason::none});
  }
  std::vector<unsigned char> body(length);
  if (!read_exactly(sftp, body.data(), length)) return std::unexpected(link_failure(sftp));
  if (body[0] != fxp_status) {
    return std::unexpected(WireFailure{WireFailure::Kind::link, 0,
                                       "the server answered a write with something else", 0,
                                       StopReason::none});
  }
  Status status{get_u32(&body[1]), get_u32(&body[5]), {}};
  if (length >= 13) {
    std::uint32_t text_size = get_u32(&body[9]);
    if (text_size <= length - 13)
      status.message.assign(reinterpret_cast<const char*>(&body[13]), text_size);
  }
  return status;
}

WireFailure status_failure(const Status& status) {
  return WireFailure{WireFailure::Kind::status, status.code, status.message, 0, StopReason::none};
}

}  // namespace

std::expected<std::uint64_t, WireFailure> write_pipelined(sftp_file file, int source, int in_flight,
                                                          RequestStop& stop) {
  sftp_session sftp = file->sftp;
  const std::string_view handle(static_cast<const char*>(ssh_string_data(file->handle)),
                                ssh_string_len(file->handle));
  std::vector<char> buffer(sftp_write_chunk);
  std::deque<std::uint32_t> pending;
  std::uint64_t offset = 0;
  bool at_end = false;
  std::optional<WireFailure> failed;
  // Answers come in order of the requests (OpenSSH's server handles one at a time), but a
  // server may reorder them: each answer is matched against the set in flight.
  auto settle_one = [&]() -> bool {
    auto status = read_status(sftp);
    if (!status) {
      failed = status.error();
      return false;
    }
    auto found = std::find(pending.begin(), pending.end(), status->id);
    if (found == pending.end()) {
      failed = WireFailure{WireFailure::Kind::link, 0, "the server answered a write never sent", 0,
                           StopReason::none};
      return false;
    }
    pending.erase(found);
    if (status->code != fx_ok && !failed) failed = status_failure(*status);
    return true;
  };
  while (!failed && !(at_end && pending.empty())) {
    if (!at_end && static_cast<int>(pending.size()) < in_flight) {
      if (auto reason = stop.check(); reason != StopReason::none) {
        failed = WireFailure{WireFailure::Kind::stopped, 0, {}, 0, reason};
        break;
      }
      ssize_t got = ::read(source, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failed = WireFailure{WireFailure::Kind::local, 0, {}, errno, StopReason::none};
        break;
      }
      if (got == 0) {
        at_end = true;
        continue;
      }
      const std::uint32_t id = next_id(sftp);
      const std::size_t body_size = 4 + handle.size() + 8 + 4 + static_cast<std::size_t>(got);
      std::string head = request_head(fxp_write, id, body_size);
      put_string(head, handle);
      put_u64(head, offset);
      put_u32(head, static_cast<std::uint32_t>(got));
      if (!send_all(sftp, head) ||
          !send_all(sftp, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
        failed = link_failure(sftp);
        break;
      }
      pending.push_back(id);
      offset += static_cast<std::uint64_t>(got);
      continue;
    }
    if (!settle_one()) break;
  }
  // Collect what is still in flight so that the stream ends at a boundary; a broken link
  // leaves nothing to collect.
  while (failed && failed->kind != WireFailure::Kind::link && !pending.empty()) {
    if (!settle_one()) break;
  }
  if (failed) return std::unexpected(*failed);
  return offset;
}

std::expected<void, WireFailure> posix_rename(sftp_session sftp, const std::string& from,
                                              const std::string& to) {
  const std::uint32_t id = next_id(sftp);
  std::string body;
  put_string(body, "posix-rename@openssh.com");
  put_string(body, from);
  put_string(body, to);
  std::string packet = request_head(fxp_extended, id, body.size()) + body;
  if (!send_all(sftp, packet)) return std::unexpected(link_failure(sftp));
  auto status = read_status(sftp);
  if (!status) return std::unexpected(status.error());
  if (status->id != id) {
    return std::unexpected(WireFailure{WireFailure::Kind::link, 0,
                                       "the server answered a request never sent", 0,
                                       StopReason::none});
  }
  if (status->code != fx_ok) return std::unexpected(status_failure(*status));
  return {};
}

}  // namespace pendrel::desktop
