// Making a path absolute without the file system: for any path and working directory (the
// input split at its first NUL byte) the result is absolute and normalising it again changes
// nothing.
#include "fuzz_check.h"
#include "protocol/lexical_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto text = fuzz::as_text(data, size);
  auto split = text.find('\0');
  std::string_view path = text.substr(0, split);
  std::string working_dir = "/";
  if (split != std::string_view::npos) working_dir += text.substr(split + 1);

  std::string absolute = absolute_lexically(path, working_dir);
  fuzz::check(absolute.starts_with('/'), "the result is absolute");
  fuzz::check(absolute_lexically(absolute, "/elsewhere") == absolute,
              "an absolute result is already normal");
  return 0;
}
