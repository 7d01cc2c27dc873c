// Any text in settings.json gives settings or a reason, and nothing crashes.
#include "desktop/shared/store/settings_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto settings = desktop::parse_settings(fuzz::as_text(data, size));
  if (!settings) fuzz::check(!settings.error().empty(), "a rejected file is described");
  return 0;
}
