#include "output/report.h"

#include <optional>

#include "i18n/catalogue.h"
#include "protocol/json_writer.h"

namespace pendrel {

int report_error(Output& output, int exit_code, std::string_view code, std::string_view detail) {
  auto code_text = text_of_code(code, output.lang);
  if (output.json) {
    std::string_view message = !detail.empty() ? detail : code_text.value_or("");
    JsonWriter json;
    json.begin_object().key("error").string(code).key("message").string(message).end_object();
    output.out.write(json.take_line());
    return exit_code;
  }
  std::string line = "pendrel: ";
  std::string_view base = code_text.value_or(code);
  if (detail.empty()) {
    line += base;
  } else if (code == usage_code) {
    line += detail;
  } else {
    line += base;
    line += ": ";
    line += detail;
  }
  line += '\n';
  output.err.write(line);
  return exit_code;
}

int report_failure(Output& output, const CliFailure& failure) {
  return report_error(output, failure.exit_code, failure.code, failure.message);
}

int report_usage(Output& output, std::string_view message) {
  return report_error(output, 1, usage_code, message);
}

int report_unexpected_answer(Output& output, const Response& answer) {
  return report_failure(output, unexpected_answer_failure(answer, output.lang));
}

}  // namespace pendrel
