#include "desktop/broker/rules/rule_settings_json.h"

#include <cstdint>
#include <set>

#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

std::unexpected<RuleError> refuse(std::string detail) {
  return std::unexpected(RuleError{RuleFault::bad_settings, "", std::move(detail)});
}

std::string_view on_match_name(OnMatch on_match) {
  return on_match == OnMatch::block ? "block" : "ask";
}

// Calls `member(key, value)` for each member of `object`; fails on a repeated key.
template <typename MemberFn>
std::expected<void, RuleError> for_each_member(simdjson::dom::element value, std::string_view what,
                                               MemberFn member) {
  simdjson::dom::object object;
  if (value.get_object().get(object)) return refuse(std::string(what) + " is not an object");
  std::set<std::string_view> seen;
  for (auto [key, element] : object) {
    if (!seen.insert(key).second) return refuse("repeated member \"" + std::string(key) + "\"");
    if (auto done = member(key, element); !done) return done;
  }
  return {};
}

std::expected<std::string, RuleError> read_string(simdjson::dom::element value,
                                                  std::string_view what) {
  std::string_view text;
  if (value.get_string().get(text)) return refuse(std::string(what) + " is not a string");
  return std::string(text);
}

std::expected<UserRule, RuleError> read_user_rule(simdjson::dom::element value) {
  UserRule rule;
  bool has_name = false;
  bool has_pattern = false;
  auto read = for_each_member(
      value, "a user rule",
      [&](std::string_view key, simdjson::dom::element member) -> std::expected<void, RuleError> {
        if (key == "name" || key == "pattern") {
          auto text = read_string(member, key);
          if (!text) return std::unexpected(text.error());
          (key == "name" ? rule.name : rule.pattern) = std::move(*text);
          (key == "name" ? has_name : has_pattern) = true;
          return {};
        }
        if (key == "enabled") {
          if (member.get_bool().get(rule.enabled)) return refuse("enabled is not true or false");
          return {};
        }
        return refuse("unknown member \"" + std::string(key) + "\" in a user rule");
      });
  if (!read) return std::unexpected(read.error());
  if (!has_name || !has_pattern) return refuse("a user rule needs a name and a pattern");
  return rule;
}

}  // namespace

std::string encode_rule_settings(const RuleSettings& settings) {
  JsonWriter json;
  json.begin_object().key("userRules").begin_array();
  for (const UserRule& rule : settings.user_rules) {
    json.begin_object()
        .key("name")
        .string(rule.name)
        .key("pattern")
        .string(rule.pattern)
        .key("enabled")
        .boolean(rule.enabled)
        .end_object();
  }
  json.end_array().key("disabledBuiltins").begin_array();
  for (const std::string& name : settings.disabled_builtins)
    json.string(name);
  json.end_array()
      .key("onMatch")
      .string(on_match_name(settings.on_match))
      .key("approvalTimeoutSeconds")
      .integer(settings.approval_timeout.count())
      .end_object();
  return json.take();
}

std::expected<RuleSettings, RuleError> decode_rule_settings(std::string_view json) {
  simdjson::dom::parser parser;
  simdjson::padded_string padded(json);
  simdjson::dom::element root;
  if (auto error = parser.parse(padded).get(root)) {
    return refuse(std::string("not valid JSON: ") + simdjson::error_message(error));
  }
  return decode_rule_settings(root);
}

std::expected<RuleSettings, RuleError> decode_rule_settings(simdjson::dom::element value) {
  RuleSettings settings;
  auto read = for_each_member(
      value, "the rules settings",
      [&](std::string_view key, simdjson::dom::element member) -> std::expected<void, RuleError> {
        if (key == "userRules" || key == "disabledBuiltins") {
          simdjson::dom::array array;
          if (member.get_array().get(array)) return refuse(std::string(key) + " is not an array");
          for (simdjson::dom::element item : array) {
            if (key == "userRules") {
              auto rule = read_user_rule(item);
              if (!rule) return std::unexpected(rule.error());
              settings.user_rules.push_back(std::move(*rule));
            } else {
              auto name = read_string(item, "a disabled built-in");
              if (!name) return std::unexpected(name.error());
              settings.disabled_builtins.push_back(std::move(*name));
            }
          }
          return {};
        }
        if (key == "onMatch") {
          std::string_view text;
          if (member.get_string().get(text) || (text != "ask" && text != "block")) {
            return refuse("onMatch is not \"ask\" or \"block\"");
          }
          settings.on_match = text == "block" ? OnMatch::block : OnMatch::ask;
          return {};
        }
        if (key == "approvalTimeoutSeconds") {
          std::int64_t seconds = 0;
          if (member.get_int64().get(seconds) || seconds < min_approval_timeout.count() ||
              seconds > max_approval_timeout.count()) {
            return refuse("approvalTimeoutSeconds is not a whole number from 1 to 600");
          }
          settings.approval_timeout = std::chrono::seconds(seconds);
          return {};
        }
        return refuse("unknown member \"" + std::string(key) + "\"");
      });
  if (!read) return std::unexpected(read.error());
  return settings;
}

}  // namespace pendrel::desktop
