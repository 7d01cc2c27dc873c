#include "output/failure.h"

#include "i18n/catalogue.h"

namespace pendrel {
namespace {

constexpr std::string_view skill_install_failed_code = "skill_install_failed";
constexpr MessagePair skill_install_failed_text{"安装技能文件失败",
                                                "failed to install the skill file"};

}  // namespace

std::optional<std::string_view> text_of_code(std::string_view code, Language language) {
  if (code == skill_install_failed_code) return skill_install_failed_text.in(language);
  if (auto known = parse_error_code(code)) {
    const auto& info = info_for(*known);
    return language == Language::en ? info.english : info.chinese;
  }
  return std::nullopt;
}

std::string_view shown_message(const CliFailure& failure, Language language) {
  if (!failure.message.empty()) return failure.message;
  return text_of_code(failure.code, language).value_or("");
}

CliFailure usage_failure(std::string message) {
  return CliFailure{std::string(usage_code), std::move(message), 1};
}

CliFailure failure_with(ErrorCode code, std::string message) {
  const ErrorCodeInfo& info = info_for(code);
  return CliFailure{std::string(info.name), std::move(message),
                    static_cast<std::uint8_t>(info.exit_code)};
}

CliFailure failure_from_error_body(const ErrorBody& body) {
  return CliFailure{body.code, body.message, static_cast<std::uint8_t>(exit_code_for(body.code))};
}

CliFailure unexpected_answer_failure(const Response& answer, Language language) {
  return CliFailure{"internal",
                    format_message(messages::unexpected_answer, language, debug_render(answer)), 5};
}

}  // namespace pendrel
