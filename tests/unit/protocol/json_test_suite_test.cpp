// The decoder against the community's JSON parsing corpus, carried in tests/data/JSONTestSuite.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "decode_padded.h"
#include "protocol/fd_io.h"
#include "support/source_tree.h"

namespace pendrel {
namespace {

std::vector<std::filesystem::path> corpus_files(std::string_view prefix) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path folder =
      testing::source_path("tests/data/JSONTestSuite/test_parsing");
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && name.ends_with(".json")) files.push_back(entry.path());
  }
  return files;
}

TEST(JsonTestSuite, RejectsEveryInvalidText) {
  auto files = corpus_files("n_");
  ASSERT_FALSE(files.empty()) << "tests/data/JSONTestSuite lacks the corpus";
  for (const auto& file : files) {
    auto content = read_whole_file(file.string());
    ASSERT_TRUE(content.has_value()) << file;
    auto response = testing::decode_padded(*content);
    EXPECT_FALSE(response.has_value()) << file.filename() << " was accepted";
    if (!response.has_value()) {
      EXPECT_NE(response.error().find(" at line "), std::string::npos) << response.error();
    }
  }
}

TEST(JsonTestSuite, SurvivesTheImplementationDefinedTexts) {
  auto files = corpus_files("i_");
  ASSERT_FALSE(files.empty()) << "tests/data/JSONTestSuite lacks the corpus";
  for (const auto& file : files) {
    auto content = read_whole_file(file.string());
    ASSERT_TRUE(content.has_value()) << file;
    // Whatever the verdict, none of these is an answer object.
    EXPECT_FALSE(testing::decode_padded(*content).has_value()) << file.filename();
  }
}

}  // namespace
}  // namespace pendrel
