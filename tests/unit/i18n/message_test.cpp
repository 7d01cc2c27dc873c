#include "i18n/message.h"

#include <gtest/gtest.h>

#include "i18n/catalogue.h"

namespace pendrel {
namespace {

TEST(FormatMessage, FillsTheTemplateOfTheChosenLanguage) {
  EXPECT_EQ(format_message(messages::duration_seconds, Language::zh, 3), "3 秒");
  EXPECT_EQ(format_message(messages::duration_seconds, Language::en, "0.9"), "0.9s");
  EXPECT_EQ(format_message(messages::unknown_command, Language::en, std::string("frob")),
            "unknown command: frob (run pendrel help for usage)");
}

TEST(FormatMessage, MissingArgumentsLeaveNothingBehind) {
  EXPECT_EQ(format_message(messages::downloaded, Language::zh, "1.0 KB", "/tmp/a"),
            "已下载 1.0 KB → /tmp/a（）");
  EXPECT_EQ(format_message(messages::downloaded, Language::en), "Downloaded  →  ()");
}

TEST(FormatMessage, ExtraArgumentsAreDropped) {
  EXPECT_EQ(format_message(messages::duration_seconds, Language::en, 1, 2, 3), "1s");
  EXPECT_EQ(format_message(messages::no_hosts, Language::en, "x"),
            "No hosts allow CLI access. Enable CLI access for a host in Pendrel.");
}

TEST(FormatMessage, ArgumentsAreNotScannedForPlaceholders) {
  EXPECT_EQ(format_message(messages::uploaded, Language::en, "{}", "{}{}", "-"),
            "Uploaded {} → {}{} (-)");
}

TEST(FormatMessage, NumbersAreDecimal) {
  EXPECT_EQ(format_message(messages::output_truncated, Language::en, std::uint64_t{1048576}),
            "\n[pendrel] output exceeded 1048576 bytes and was truncated\n");
  EXPECT_EQ(format_message(messages::duration_seconds, Language::en, -7), "-7s");
}

}  // namespace
}  // namespace pendrel
