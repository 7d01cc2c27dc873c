#include "client/launcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

TEST(LaunchCandidates, ParentOfParentThenSibling) {
  const struct {
    const char* path;
    std::vector<std::string> candidates;
  } cases[] = {
      {"/usr/bin/pendrel", {"/usr/Pendrel", "/usr/bin/pendrel-desktop"}},
      {"/opt/x/bin/pendrel", {"/opt/x/Pendrel", "/opt/x/bin/pendrel-desktop"}},
      {"/bin/pendrel", {"/Pendrel", "/bin/pendrel-desktop"}},
      {"/pendrel", {"/pendrel-desktop"}},  // the root has no parent
      {"/", {}},
      {"pendrel", {"pendrel-desktop"}},
  };
  for (const auto& [path, candidates] : cases) {
    EXPECT_EQ(launch_candidates(path), candidates) << path;
  }
}

TEST(ExecCandidates, APathAsItIsABareNameInEachSearchDirectory) {
  const struct {
    const char* program;
    std::optional<std::string_view> search_path;
    std::vector<std::string> candidates;
  } cases[] = {
      {"/opt/app", "/bin", {"/opt/app"}},
      {"sub/app", "/bin", {"sub/app"}},
      {"app", "/usr/local/bin:/bin/", {"/usr/local/bin/app", "/bin/app"}},
      {"app", "::/x", {"app", "app", "/x/app"}},  // empty entries: the working directory
      {"app", "", {"app"}},
      {"app", std::nullopt, {"/bin/app", "/usr/bin/app"}},
  };
  for (const auto& [program, search_path, candidates] : cases) {
    EXPECT_EQ(exec_candidates(program, search_path), candidates)
        << program << " " << search_path.value_or("(unset)");
  }
}

// A program file and candidates around it in a temporary tree:
// <root>/bin/pendrel (the program), <root>/bin/pendrel-desktop, <root>/Pendrel.
struct Tree {
  TempDir root;
  std::string program = root / "bin/pendrel";

  Tree() { write_file(program, "program"); }
  void add_file(const std::string& path, mode_t mode = 0755) const {
    write_file(path, "app");
    ::chmod(path.c_str(), mode);
  }
};

TEST(IsLaunchCandidate, AcceptsOnlyRegularFilesOtherThanTheProgram) {
  Tree tree;
  const std::string plain = tree.root / "plain";
  tree.add_file(plain, 0644);  // no execute permission: still a candidate
  const std::string directory = tree.root / "dir";
  ::mkdir(directory.c_str(), 0755);
  const std::string dangling = tree.root / "dangling";
  ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
  const std::string to_program = tree.root / "to_program";
  ASSERT_EQ(::symlink(tree.program.c_str(), to_program.c_str()), 0);
  const std::string to_plain = tree.root / "to_plain";
  ASSERT_EQ(::symlink(plain.c_str(), to_plain.c_str()), 0);

  EXPECT_TRUE(is_launch_candidate(tree.program, plain));
  EXPECT_TRUE(is_launch_candidate(tree.program, to_plain));
  EXPECT_FALSE(is_launch_candidate(tree.program, directory));
  EXPECT_FALSE(is_launch_candidate(tree.program, dangling));
  EXPECT_FALSE(is_launch_candidate(tree.program, to_program));
  EXPECT_FALSE(is_launch_candidate(tree.program, tree.program));
  EXPECT_FALSE(is_launch_candidate(tree.program, tree.root / "missing"));
  // An own path that cannot be resolved does not reject anything.
  EXPECT_TRUE(is_launch_candidate(tree.root / "gone/pendrel", plain));
}

TEST(LocateApp, ExplicitSettingComesFirst) {
  Tree tree;
  tree.add_file(tree.root / "bin/pendrel-desktop");
  Environment environment;
  environment.set("PENDREL_APP", "my-app");
  EXPECT_EQ(locate_app(environment, tree.program), "my-app");  // not checked, not absolute
  environment.set("PENDREL_APP", "");
  EXPECT_EQ(locate_app(environment, tree.program), std::nullopt);
  EXPECT_EQ(locate_app(Environment(), std::nullopt), std::nullopt);
}

TEST(LocateApp, SearchesBesideTheProgramThenBesideItsCanonicalForm) {
  Tree tree;
  const Environment environment;
  EXPECT_EQ(locate_app(environment, tree.program), std::nullopt);

  tree.add_file(tree.root / "bin/pendrel-desktop");
  EXPECT_EQ(locate_app(environment, tree.program), tree.root / "bin/pendrel-desktop");
  tree.add_file(tree.root / "Pendrel");
  EXPECT_EQ(locate_app(environment, tree.program), tree.root / "Pendrel");

  // Called through a link in another directory: that directory has nothing, so the
  // candidates beside the real file are used.
  const std::string link = tree.root / "links/deeper/pendrel";
  write_file(tree.root / "links/deeper/placeholder", "");
  ASSERT_EQ(::symlink(tree.program.c_str(), link.c_str()), 0);
  EXPECT_EQ(locate_app(environment, link), tree.root / "Pendrel");

  // A candidate beside the link that is the program itself is skipped.
  ASSERT_EQ(::symlink(tree.program.c_str(), (tree.root / "links/Pendrel").c_str()), 0);
  EXPECT_EQ(locate_app(environment, link), tree.root / "Pendrel");
}

}  // namespace
}  // namespace pendrel::testing
