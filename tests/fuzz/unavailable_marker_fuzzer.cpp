// Any content of the unavailability marker parses to a process and a reason, or to nothing.
#include "fuzz_check.h"
#include "protocol/unavailable_marker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto marker = pendrel::parse_unavailable_marker(pendrel::fuzz::as_text(data, size));
  if (marker) pendrel::fuzz::check(!marker->reason.empty(), "a marker always gives a reason");
  return 0;
}
