#include "desktop/shared/terminal/opening_answers.h"

#include "protocol/json_writer.h"

namespace pendrel::desktop {

std::string attached_answer(const TerminalInfo& terminal) {
  JsonWriter writer;
  writer.begin_object()
      .key("ok")
      .boolean(true)
      .key("id")
      .string(terminal.id)
      .key("hostName")
      .string(terminal.host_name)
      .end_object();
  return writer.take();
}

std::string refused_answer(std::string_view code, std::string_view error) {
  JsonWriter writer;
  writer.begin_object()
      .key("ok")
      .boolean(false)
      .key("code")
      .string(code)
      .key("error")
      .string(error)
      .end_object();
  return writer.take();
}

}  // namespace pendrel::desktop
