#include "protocol/error_code.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace pendrel {
namespace {

// Written out independently of the table in error_code.cpp.
const std::map<std::string, int> expected_exit_codes = {
    {"bad_request", 1},
    {"not_found", 5},
    {"host_not_found", 2},
    {"host_not_allowed", 3},
    {"connect_failed", 5},
    {"algorithm_mismatch", 5},
    {"terminal_not_open", 5},
    {"terminal_busy", 5},
    {"credential_missing", 5},
    {"hostkey_unknown", 5},
    {"hostkey_mismatch", 5},
    {"hostkey_rejected", 5},
    {"auth_failed", 5},
    {"auth_interaction_required", 5},
    {"path_not_found", 5},
    {"path_exists", 5},
    {"permission_denied", 5},
    {"sftp_unavailable", 5},
    {"key_passphrase_required", 5},
    {"key_wrong_passphrase", 5},
    {"key_unsupported", 5},
    {"key_invalid", 5},
    {"command_blocked", 4},
    {"command_denied", 4},
    {"cli_disabled", 7},
    {"app_not_running", 7},
    {"app_locked", 6},
    {"vault_locked", 6},
    {"vault_needs_setup", 6},
    {"vault_key_lost", 6},
    {"protocol_mismatch", 5},
    {"canceled", 5},
    {"internal", 5},
};

TEST(ErrorCodeTable, EveryCodeHasItsExitCode) {
  ASSERT_EQ(all_error_codes().size(), expected_exit_codes.size());
  for (const auto& [name, exit_code] : expected_exit_codes) {
    auto code = parse_error_code(name);
    ASSERT_TRUE(code.has_value()) << name;
    EXPECT_EQ(info_for(*code).name, name);
    EXPECT_EQ(exit_code_for(*code), exit_code) << name;
    EXPECT_EQ(exit_code_for(std::string_view(name)), exit_code) << name;
  }
}

TEST(ErrorCodeTable, IsInEnumerationOrderWithBothMessages) {
  int index = 0;
  for (const ErrorCodeInfo& info : all_error_codes()) {
    EXPECT_EQ(static_cast<int>(info.code), index++) << info.name;
    EXPECT_EQ(&info_for(info.code), &info) << info.name;
    EXPECT_FALSE(info.chinese.empty()) << info.name;
    EXPECT_FALSE(info.english.empty()) << info.name;
  }
}

TEST(ErrorCodeTable, UnknownCodesExitWithFive) {
  for (std::string_view text : {"", "usage", "skill_install_failed", "no_such_code", "internal "}) {
    EXPECT_FALSE(parse_error_code(text).has_value()) << text;
    EXPECT_EQ(exit_code_for(text), 5) << text;
  }
}

TEST(ErrorCodeTable, ParsingIsCaseSensitive) {
  for (std::string_view text : {"Host_Not_Found", "HOST_NOT_FOUND", "Bad_request", "Internal"}) {
    EXPECT_FALSE(parse_error_code(text).has_value()) << text;
    EXPECT_EQ(exit_code_for(text), 5) << text;
  }
}

}  // namespace
}  // namespace pendrel
