// The unprivileged account the test sshd runs as, created once per machine by root.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pendrel::testing {

struct SshdTestUser {
  std::string name;
  std::string password;
  uid_t uid = 0;
  gid_t gid = 0;
};

inline constexpr const char* sshd_test_user_name = "pendrel-ssh-test";
// The PAM services the test sshd runs under (sshd takes the name it was started as): one
// that checks the user's password, and one whose keyboard-interactive login asks a question
// that is not a password prompt. Neither runs the system's session modules (motd, loginuid),
// which an unprivileged sshd cannot satisfy on every machine. The question's service has a
// name of its own: an older file (pendrel-ssh-test-otp) let no session open after the login,
// and test runs from older trees would keep writing it back.
inline constexpr const char* sshd_password_service = "pendrel-ssh-test";
inline constexpr const char* sshd_other_question_service = "pendrel-ssh-test-question";

// Creates the user, its password file and the PAM services when missing, under a lock so
// parallel tests agree. Needs root; throws std::runtime_error on failure.
[[nodiscard]] SshdTestUser ensure_sshd_test_user();

// Runs a program to completion; throws std::runtime_error unless it exits 0.
void run_tool(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdin_text = {});

}  // namespace pendrel::testing
