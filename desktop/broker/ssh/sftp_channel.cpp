#include "desktop/broker/ssh/sftp_channel.h"

#include <cerrno>
#include <string>

#include "desktop/broker/ssh/ssh_error.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {

std::expected<OwnedSftp, ErrorBody> open_sftp(ssh_session session) {
  OwnedSftp sftp(sftp_new(session));
  if (!sftp) {
    return std::unexpected(ssh_failure(ErrorCode::sftp_unavailable,
                                       std::string("the server offers no SFTP (") +
                                           ssh_get_error(session) +
                                           "); enable its SFTP subsystem to transfer files"));
  }
  if (sftp_init(sftp.get()) != SSH_OK) {
    return std::unexpected(ssh_failure(ErrorCode::sftp_unavailable,
                                       std::string("the server's SFTP did not start (") +
                                           ssh_get_error(session) + "); check its SFTP subsystem"));
  }
  return sftp;
}

std::expected<SftpOnLease, ErrorBody> open_sftp_from(const ConnectionSource& source,
                                                     const SshTarget& target,
                                                     const SshCredentials& credentials,
                                                     const TrustedHostKeys& keys) {
  auto lease = take_session(source, target, credentials, keys);
  if (!lease) return std::unexpected(lease.error());
  auto sftp = open_sftp(lease->get());
  if (!sftp && lease->reused()) {
    lease = take_session(source, target, credentials, keys, WarmConnections::Pick::fresh);
    if (!lease) return std::unexpected(lease.error());
    sftp = open_sftp(lease->get());
  }
  if (!sftp) return std::unexpected(sftp.error());
  return SftpOnLease{std::move(*lease), std::move(*sftp)};
}

ErrorBody sftp_failure(sftp_session sftp, std::string_view what, std::string_view path) {
  // The server's refusals arrive as SSH_REQUEST_DENIED; a fatal error is the link's (a broken
  // connection, or no answer within the session's timeout), whatever status came before.
  if (ssh_is_connected(sftp->session) == 0 || ssh_get_error_code(sftp->session) == SSH_FATAL) {
    return sftp_link_failure(ssh_get_error(sftp->session), what, path);
  }
  return sftp_status_failure(sftp_get_error(sftp), ssh_get_error(sftp->session), what, path);
}

ErrorBody sftp_status_failure(int status, std::string_view server_words, std::string_view what,
                              std::string_view path) {
  const std::string subject = std::string(what) + " " + std::string(path) + " on the host";
  switch (status) {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
      return ssh_failure(ErrorCode::path_not_found,
                         "cannot " + subject + ": no such file or directory; check the path");
    case SSH_FX_PERMISSION_DENIED:
    case SSH_FX_WRITE_PROTECT:
      return ssh_failure(ErrorCode::permission_denied,
                         "cannot " + subject + ": permission denied for the host's user");
    case SSH_FX_FILE_ALREADY_EXISTS:
      return ssh_failure(ErrorCode::path_exists, "cannot " + subject + ": it already exists");
    default:
      return ssh_failure(ErrorCode::internal,
                         "cannot " + subject + ": " + server_text(server_words, 300));
  }
}

ErrorBody sftp_link_failure(std::string_view cause, std::string_view what, std::string_view path) {
  return ssh_failure(ErrorCode::connect_failed,
                     "cannot " + std::string(what) + " " + std::string(path) +
                         " on the host: the link to the host broke or went silent (" +
                         server_text(cause, 200) + "); check the network and the host");
}

ErrorBody local_failure(int error_number, std::string_view what, std::string_view path) {
  const std::string subject =
      "cannot " + std::string(what) + " " + std::string(path) + ": " + os_error_text(error_number);
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return ssh_failure(ErrorCode::path_not_found, subject + "; check the path");
    case EACCES:
    case EPERM:
    case EROFS:
      return ssh_failure(ErrorCode::permission_denied, subject);
    case EEXIST:
    case EISDIR:
      return ssh_failure(ErrorCode::path_exists, subject);
    default:
      return ssh_failure(ErrorCode::internal, subject);
  }
}

std::string base_name(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string canonical_remote_path(sftp_session sftp, const std::string& path) {
  char* canonical = sftp_canonicalize_path(sftp, path.c_str());
  if (canonical == nullptr) return path;
  std::string result(canonical);
  ssh_string_free_char(canonical);
  return result;
}

}  // namespace pendrel::desktop
