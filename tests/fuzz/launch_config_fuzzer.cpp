// Any content of cli-launch.json gives launch settings; only a valid object that says
// "autoStart": false forbids the start.
#include "fuzz_check.h"
#include "protocol/launch_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = pendrel::fuzz::as_text(data, size);
  auto config = pendrel::parse_launch_config(text);
  if (!config.auto_start) {
    pendrel::fuzz::check(text.find("autoStart") != std::string_view::npos ||
                             text.find('\\') != std::string_view::npos,
                         "the start is forbidden only by an autoStart member");
  }
  return 0;
}
