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
// The PAM service (and the name sshd runs under) whose keyboard-interactive login asks a
// question that is not a password prompt.
inline constexpr const char* sshd_other_question_service = "pendrel-ssh-test-otp";

// Creates the user, its password file and the PAM service when missing, under a lock so
// parallel tests agree. Needs root; throws std::runtime_error on failure.
[[nodiscard]] SshdTestUser ensure_sshd_test_user();

// Runs a program to completion; throws std::runtime_error unless it exits 0.
void run_tool(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdin_text = {});

}  // namespace pendrel::testing
