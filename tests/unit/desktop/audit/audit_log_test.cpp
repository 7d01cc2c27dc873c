// The audit line's shape and the rotation that bounds the log.
#include "desktop/shared/audit/audit_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

TEST(AuditLog, LinesLeaveOutWhatARequestDidNotHave) {
  AuditEntry exec{
      42, {"bash", "node"}, "exec", "k3x9", "web-1", "echo \"hi\"", "", "", "ok", 0, 3, 12, ""};
  EXPECT_EQ(audit_line(exec, "2026-12-08T03:04:05.678Z"),
            R"({"time":"2026-12-08T03:04:05.678Z","pid":42,"caller":["bash","node"],)"
            R"("kind":"exec","hostId":"k3x9","hostName":"web-1","command":"echo \"hi\"",)"
            R"("outcome":"ok","exitCode":0,"bytes":3,"durationMs":12})"
            "\n");
  AuditEntry refused{7, {}, "hello", "", "", "", "", "", "cli_disabled", {}, {}, 0, ""};
  EXPECT_EQ(audit_line(refused, "T"),
            R"({"time":"T","pid":7,"kind":"hello","outcome":"cli_disabled","durationMs":0})"
            "\n");
}

TEST(AuditLog, RotatesAtTheBoundKeepingTheNewestFiles) {
  testing::TempDir dir;
  AuditLog log(dir.path(), Rotation{300, 2});
  AuditEntry entry{1, {}, "listHosts", "", "", "", "", "", "ok", {}, {}, 0, ""};
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(log.record(entry).has_value());
  namespace fs = std::filesystem;
  EXPECT_TRUE(fs::exists(dir / "audit.jsonl.1"));
  EXPECT_TRUE(fs::exists(dir / "audit.jsonl.2"));
  EXPECT_FALSE(fs::exists(dir / "audit.jsonl.3"));
  for (const char* name : {"audit.jsonl", "audit.jsonl.1", "audit.jsonl.2"}) {
    EXPECT_LE(fs::file_size(dir / name), 300u) << name;
    EXPECT_EQ(fs::status(dir / name).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << name;
  }
}

}  // namespace
}  // namespace pendrel::desktop
