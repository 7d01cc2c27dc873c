// A real OpenSSH server on 127.0.0.1 for SSH tests: Debian's sshd, run as the unprivileged
// user pendrel-ssh-test with PAM, on a free port, with its own host key, user keys and config.
//
// The user is created on first use (root only): useradd, a random password kept in
// /var/lib/pendrel-ssh-test/password (root-only), and the PAM services
// /etc/pam.d/pendrel-ssh-test (the password) and pendrel-ssh-test-question (a
// keyboard-interactive question that is not a password prompt).
// Without root the tests skip (skip_reason says why). Every server is stopped by its fixture.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace pendrel::testing {

enum class SshdVariant {
  standard,                  // publickey, password and keyboard-interactive ("Password: ")
  key_then_password_prompt,  // publickey, then keyboard-interactive asking "Password:"
  key_then_other_question,   // publickey, then keyboard-interactive asking no password
  legacy_only,               // group1-sha1, ssh-rsa host key, aes128-cbc, hmac-sha1 only
  no_sftp,                   // no SFTP subsystem
};

class SshdFixture {
 public:
  // Why SSH tests cannot run here, or nothing.
  [[nodiscard]] static std::optional<std::string> skip_reason();

  // Starts the server; throws std::runtime_error (with sshd's log) when it does not come up.
  explicit SshdFixture(SshdVariant variant = SshdVariant::standard);
  ~SshdFixture();
  SshdFixture(const SshdFixture&) = delete;
  SshdFixture& operator=(const SshdFixture&) = delete;

  [[nodiscard]] std::uint16_t port() const { return port_; }
  [[nodiscard]] const std::string& user() const;
  [[nodiscard]] const std::string& password() const;
  // The current host key as "type base64".
  [[nodiscard]] std::string host_key_line() const;
  // Private key texts: authorized plain ed25519, and ed25519 encrypted with key_passphrase().
  [[nodiscard]] std::string plain_key() const;
  [[nodiscard]] std::string encrypted_key() const;
  [[nodiscard]] static const char* key_passphrase() { return "correct horse battery"; }
  // A directory the server's user owns, for files the tests move.
  [[nodiscard]] const std::string& files_dir() const { return files_dir_; }
  // Creates files_dir()/relative, owned by the server's user; returns its path.
  std::string make_files_dir(const std::string& relative) const;
  [[nodiscard]] std::string log() const;
  // How many client connections the server holds now (its listener's children).
  [[nodiscard]] int session_count() const;
  // Ends every client connection from the server's side, as a restarted host would.
  void end_sessions() const;

  // Replaces the host key and restarts on the same port, ending every connection.
  void change_host_key();

 private:
  void start();
  void stop();
  [[nodiscard]] const char* pam_service() const;

  SshdVariant variant_;
  TempDir dir_;
  std::string files_dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// A port on 127.0.0.1 where nothing listens.
[[nodiscard]] std::uint16_t closed_port();

// A listener on 127.0.0.1 that accepts connections (the kernel completes them) and never
// says a word.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  [[nodiscard]] std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace pendrel::testing
