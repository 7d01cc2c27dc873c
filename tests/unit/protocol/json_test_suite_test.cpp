// The decoder against the community's JSON parsing corpus, read where it lies at test time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decode_padded.h"
#include "protocol/fd_io.h"

namespace pendrel {
namespace {

std::vector<std::filesystem::path> corpus_files(std::string_view prefix) {
  std::vector<std::filesystem::path> files;
  const char* testdata = std::getenv("PENDREL_TESTDATA");
  if (testdata == nullptr) return files;
  std::filesystem::path folder = std::filesystem::path(testdata) / "JSONTestSuite/test_parsing";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && name.ends_with(".json")) files.push_back(entry.path());
  }
  return files;
}

TEST(JsonTestSuite, RejectsEveryInvalidText) {
  auto files = corpus_files("n_");
  if (std::getenv("PENDREL_TESTDATA") == nullptr) GTEST_SKIP() << "PENDREL_TESTDATA is not set";
  ASSERT_FALSE(files.empty()) << "PENDREL_TESTDATA does not hold the JSON test suite";
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
  if (std::getenv("PENDREL_TESTDATA") == nullptr) GTEST_SKIP() << "PENDREL_TESTDATA is not set";
  ASSERT_FALSE(files.empty()) << "PENDREL_TESTDATA does not hold the JSON test suite";
  for (const auto& file : files) {
    auto content = read_whole_file(file.string());
    ASSERT_TRUE(content.has_value()) << file;
    // Whatever the verdict, none of these is an answer object.
    EXPECT_FALSE(testing::decode_padded(*content).has_value()) << file.filename();
  }
}

}  // namespace
}  // namespace pendrel
