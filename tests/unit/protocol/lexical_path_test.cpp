#include "protocol/lexical_path.h"

#include <gtest/gtest.h>

namespace pendrel {
namespace {

struct PathCase {
  std::string_view path;
  std::string_view working_dir;
  std::string_view expected;
};

TEST(AbsoluteLexically, NormalisesWithoutTouchingTheFileSystem) {
  const PathCase cases[] = {
      {"//srv/x", "/w", "//srv/x"},  // exactly two leading slashes are kept
      {"///srv/x", "/w", "/srv/x"},  // three or more count as one
      {"////srv//x", "/w", "/srv/x"},
      {"//", "/w", "//"},
      {"/", "/w", "/"},
      {"a/../b", "/home/u", "/home/u/a/../b"},  // ".." stays: no symbolic-link guessing
      {"/a/../b", "/w", "/a/../b"},
      {"a/./b", "/home/u", "/home/u/a/b"},
      {"./rel/dir", "/home/u", "/home/u/rel/dir"},
      {"rel//dir", "/home/u", "/home/u/rel/dir"},
      {".", "/home/u", "/home/u"},
      {".", "/", "/"},
      {"out/", "/home/u", "/home/u/out/"},
      {"./", "/home/u", "/home/u/"},
      {"./", "/", "/"},
      {"/a/./b//c/", "/w", "/a/b/c/"},
      {"x", "/", "/x"},
      {"x", "/home/u/", "/home/u/x"},
      {"名字/文件", "/home/用户", "/home/用户/名字/文件"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(absolute_lexically(c.path, c.working_dir), c.expected)
        << c.path << " in " << c.working_dir;
  }
}

TEST(AbsoluteLexically, KeepsBytesThatAreNotUtf8) {
  EXPECT_EQ(absolute_lexically("a\xFF/b", "/w"), "/w/a\xFF/b");
}

TEST(MakeAbsolute, UsesTheProcessWorkingDirectoryForRelativePaths) {
  auto working_dir = current_working_directory();
  ASSERT_TRUE(working_dir.has_value());
  EXPECT_EQ(make_absolute("x/./y"), absolute_lexically("x/y", *working_dir));
  EXPECT_EQ(make_absolute("///abs"), "/abs");
}

}  // namespace
}  // namespace pendrel
