#include "protocol/skill_install.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

TEST(InstallSkillFile, CreatesDirectoriesAroundDotDotComponents) {
  TempDir dir;
  // "a" must exist before "a/.." can be walked through, so it is made as an ancestor.
  std::string path = dir / "a/../b/pendrel/SKILL.md";
  auto installed = install_skill_file(path, "text");
  ASSERT_TRUE(installed) << installed.error().text();
  EXPECT_EQ(*installed, SkillFilePreviously::absent);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a"));
  EXPECT_EQ(read_file(dir / "b/pendrel/SKILL.md"), "text");
}

TEST(InstallSkillFile, DanglingLinkCountsAsAbsentAndIsWrittenThrough) {
  TempDir dir;
  std::filesystem::create_directories(dir / "skills/pendrel");
  ASSERT_EQ(::symlink((dir / "target.md").c_str(), (dir / "skills/pendrel/SKILL.md").c_str()), 0);
  auto installed = install_skill_file(dir / "skills/pendrel/SKILL.md", "text");
  ASSERT_TRUE(installed) << installed.error().text();
  EXPECT_EQ(*installed, SkillFilePreviously::absent);
  EXPECT_EQ(read_file(dir / "target.md"), "text");
}

TEST(InstallSkillFile, NonDirectoryInTheWayIsAnError) {
  TempDir dir;
  // A dangling link where the parent should be: stat says "absent", mkdir says "exists".
  ASSERT_EQ(::symlink((dir / "nowhere/deeper").c_str(), (dir / "pendrel").c_str()), 0);
  auto installed = install_skill_file(dir / "pendrel/SKILL.md", "text");
  ASSERT_FALSE(installed);
  EXPECT_EQ(installed.error().text(), "File exists (os error 17)");
}

TEST(InstallSkillFile, WritesEmptyContent) {
  TempDir dir;
  write_file(dir / "pendrel/SKILL.md", "old content");
  auto installed = install_skill_file(dir / "pendrel/SKILL.md", "");
  ASSERT_TRUE(installed) << installed.error().text();
  EXPECT_EQ(*installed, SkillFilePreviously::present);
  EXPECT_EQ(read_file(dir / "pendrel/SKILL.md"), "");
}

}  // namespace
}  // namespace pendrel::testing
