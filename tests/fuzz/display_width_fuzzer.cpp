// Display width of any bytes, valid UTF-8 or not: never more columns than bytes (no
// character is wider than its encoding is long, and a bad byte counts one).
#include "fuzz_check.h"
#include "output/display_width.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto text = fuzz::as_text(data, size);
  std::size_t width = display_width(text);
  fuzz::check(width <= size, "no wider than the byte count");
  return 0;
}
