// Any text in /proc/<pid>/stat (a process may name itself almost anything, parentheses and
// line feeds included) parses to a name and a parent, or to nothing.
#include "caller/caller.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = pendrel::fuzz::as_text(data, size);
  auto status = pendrel::parse_process_status(text);
  if (status) {
    pendrel::fuzz::check(text.find(status->name) != std::string_view::npos,
                         "the name is taken from the text");
  }
  return 0;
}
