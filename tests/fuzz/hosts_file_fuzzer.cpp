// Any text in hosts.json gives hosts or a reason; hosts that were accepted are written back
// and read again unchanged.
#include "desktop/shared/store/hosts_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto hosts = desktop::parse_hosts(fuzz::as_text(data, size));
  if (!hosts) {
    fuzz::check(!hosts.error().empty(), "a rejected file is described");
    return 0;
  }
  std::string written = desktop::encode_hosts(*hosts);
  auto again = desktop::parse_hosts(written);
  fuzz::check(again.has_value(), "written hosts read back");
  fuzz::check(desktop::encode_hosts(*again) == written, "hosts survive the round trip");
  return 0;
}
