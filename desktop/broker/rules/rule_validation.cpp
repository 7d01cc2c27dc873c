#include "desktop/broker/rules/rule_validation.h"

#include <string>

#include "protocol/utf8.h"

namespace pendrel::desktop {

RE2::Options rule_pattern_options() {
  RE2::Options options;
  // Bytes, not UTF-8: under UTF-8 an invalid byte in a command would match no character class
  // and let `rm -rf \xff /` slip past the argument patterns.
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_log_errors(false);
  return options;
}

std::expected<void, RuleError> check_rule_name(std::string_view name) {
  auto refuse = [&](const char* why) {
    return std::unexpected(RuleError{RuleFault::bad_name, std::string(name), why});
  };
  if (name.empty()) return refuse("the name is empty");
  if (name.size() > max_rule_name_bytes) return refuse("the name is longer than 64 characters");
  auto letter_or_digit = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  if (!letter_or_digit(name[0])) return refuse("the name must start with a-z or 0-9");
  for (char c : name) {
    if (!letter_or_digit(c) && c != '-' && c != '_' && c != '.') {
      return refuse("the name may only contain a-z 0-9 - _ .");
    }
  }
  return {};
}

std::expected<std::unique_ptr<RE2>, RuleError> compile_rule_pattern(std::string_view rule,
                                                                    std::string_view pattern) {
  auto refuse = [&](std::string why) {
    return std::unexpected(RuleError{RuleFault::bad_pattern, std::string(rule), std::move(why)});
  };
  if (pattern.empty()) return refuse("the pattern is empty");
  if (pattern.size() > max_rule_pattern_bytes)
    return refuse("the pattern is longer than 2048 bytes");
  // Settings are JSON, which carries UTF-8 only.
  if (!is_valid_utf8(pattern)) return refuse("the pattern is not valid UTF-8");
  auto compiled = std::make_unique<RE2>(re2::StringPiece(pattern.data(), pattern.size()),
                                        rule_pattern_options());
  if (!compiled->ok()) return refuse(compiled->error());
  return compiled;
}

}  // namespace pendrel::desktop
