#include "desktop/shared/service/exec_policy.h"

#include "desktop/broker/rules/builtin_rules.h"
#include "desktop/broker/rules/rule_error.h"
#include "desktop/shared/service/service_context.h"
#include "protocol/error_code.h"
#include "protocol/utf8.h"

namespace pendrel::desktop {
namespace {

// A match can run to the end of a long line; the message shows its start.
constexpr std::size_t max_shown_match_bytes = 200;

std::string shown_match(std::string_view matched) {
  while (!matched.empty() && (matched.back() == ' ' || matched.back() == '\t'))
    matched.remove_suffix(1);
  if (matched.size() <= max_shown_match_bytes) return to_display_text(matched);
  std::size_t cut = max_shown_match_bytes;
  // Back off continuation bytes so that a character is not split.
  while (cut > 0 && (static_cast<unsigned char>(matched[cut]) & 0xC0) == 0x80)
    --cut;
  return to_display_text(matched.substr(0, cut)) + "…";
}

}  // namespace

RuleSet ExecPolicy::rules_for(const RuleSettings& settings, const ServiceLog& log) {
  std::lock_guard lock(mutex_);
  if (built_from_ && *built_from_ == settings) return rules_;
  auto built = RuleSet::build(settings);
  if (built) {
    rules_ = std::move(*built);
  } else {
    const RuleError& error = built.error();
    log.write("the dangerous-command rules in settings.json do not build (" +
              std::string(rule_fault_name(error.fault)) +
              (error.rule.empty() ? "" : " " + error.rule) +
              (error.detail.empty() ? "" : ": " + error.detail) +
              "); checking with the built-in rules only");
    rules_ = RuleSet();
  }
  built_from_ = settings;
  return rules_;
}

std::optional<BlockedCommand> ExecPolicy::check(std::string_view command,
                                                const RuleSettings& settings, const ServiceLog& log,
                                                AnswerLanguage language) {
  auto hit = rules_for(settings, log).find_match(command);
  if (!hit) return std::nullopt;
  return BlockedCommand{blocked_answer(*hit, language), hit->rule, *hit, settings.on_match,
                        settings.approval_timeout};
}

ErrorBody blocked_answer(const RuleHit& hit, AnswerLanguage language) {
  return ErrorBody{std::string(info_for(ErrorCode::command_blocked).name),
                   match_message(hit, language)};
}

std::string match_message(const RuleHit& hit, AnswerLanguage language) {
  // Only what this match adds: pendrel shows it after its own words for the code, and the
  // code itself says the command was blocked.
  const BuiltinRule* builtin = find_builtin_rule(hit.rule);
  std::string message;
  if (language == AnswerLanguage::en) {
    message = (builtin ? "rule " : "user rule ") + hit.rule;
    if (builtin) message += " (" + std::string(builtin->description_en) + ")";
    message += " matched `" + shown_match(hit.matched) + "`";
  } else {
    message = (builtin ? "命中规则 " : "命中用户规则 ") + hit.rule;
    if (builtin) message += "（" + std::string(builtin->description_zh) + "）";
    message += "：`" + shown_match(hit.matched) + "`";
  }
  return message;
}

}  // namespace pendrel::desktop
