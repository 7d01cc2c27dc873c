#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "exec.h"
#include "i18n/catalogue.h"
#include "support/temp_dir.h"

namespace pendrel {
namespace {

using ::pendrel::testing::TempDir;
using ::pendrel::testing::write_file;

// Standard input backed by a file holding `content`, so that any size can be read.
class StdinFile {
 public:
  explicit StdinFile(std::string_view content) {
    write_file(dir_ / "stdin", content);
    fd_ = ::open((dir_ / "stdin").c_str(), O_RDONLY);
  }
  ~StdinFile() { ::close(fd_); }
  [[nodiscard]] int fd() const { return fd_; }

 private:
  TempDir dir_;
  int fd_ = -1;
};

std::expected<ExecArgs, std::string> parse(std::vector<std::string> args,
                                           std::string_view input = "") {
  StdinFile stdin_file(input);
  return parse_exec_arguments(args, stdin_file.fd(), Language::en);
}

const std::string empty(messages::command_empty.en);

TEST(ExecArguments, CommandKeepsItsWhiteSpaceButMayNotBeOnlyWhiteSpace) {
  EXPECT_EQ(parse({"h", "  ls  "})->command, "  ls  ");
  EXPECT_EQ(parse({"h", ""}).error(), empty);
  EXPECT_EQ(parse({"h", " \t\n"}).error(), empty);
  EXPECT_EQ(parse({"h", "\u3000\u00a0\u2028"}).error(), empty);
  EXPECT_EQ(parse({"h", "\u200b"})->command, "\u200b");  // not White_Space
  EXPECT_EQ(parse({"", "ls"})->host, "");
}

TEST(ExecArguments, OnlyALeadingByteOrderMarkIsDropped) {
  EXPECT_EQ(parse({"h", "--stdin"}, "\xEF\xBB\xBFls")->command, "ls");
  EXPECT_EQ(parse({"h", "--stdin"}, "ls\xEF\xBB\xBF")->command, "ls\xEF\xBB\xBF");
  EXPECT_EQ(parse({"h", "--stdin"}, "\xEF\xBB\xBF\xEF\xBB\xBFls")->command, "\xEF\xBB\xBFls");
  EXPECT_EQ(parse({"h", "--stdin"}, "\xEF\xBB\xBF\n\n").error(), empty);
}

TEST(ExecArguments, StdinReadFailureCarriesTheSystemText) {
  TempDir dir;
  int directory = ::open(dir.path().c_str(), O_RDONLY);
  std::vector<std::string> args{"h", "--stdin"};
  auto parsed = parse_exec_arguments(args, directory, Language::en);
  ::close(directory);
  EXPECT_EQ(parsed.error(), "failed to read stdin: Is a directory (os error 21)");
  std::vector<std::string> argument_command{"h", "ls"};
  EXPECT_TRUE(parse_exec_arguments(argument_command, -1, Language::en));
}

}  // namespace
}  // namespace pendrel
