#include "output/transfer_text.h"

#include <gtest/gtest.h>

#include <utility>

namespace pendrel {
namespace {

TEST(SizeText, Boundaries) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KB"},
      {1280, "1.2 KB"},  // 1.25: the tie goes to the even digit
      {1536, "1.5 KB"},
      {1048575, "1024.0 KB"},
      {1048576, "1.0 MB"},
      {1572864, "1.5 MB"},
      {1073741824, "1.0 GB"},
      {1099511627776, "1.0 TB"},
      {1125899906842624, "1024.0 TB"},
      {18446744073709551615u, "16777216.0 TB"},
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(size_text(bytes), text) << bytes;
}

TEST(DurationText, OneDecimalInBothLanguages) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0.0s"},   {40, "0.0s"},     {250, "0.2s"},
      {930, "0.9s"}, {12345, "12.3s"}, {3600000, "3600.0s"},
  };
  for (const auto& [ms, text] : cases)
    EXPECT_EQ(duration_text(ms, Language::en), text) << ms;
  EXPECT_EQ(duration_text(930, Language::zh), "0.9 秒");
}

}  // namespace
}  // namespace pendrel
