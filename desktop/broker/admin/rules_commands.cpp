#include "desktop/broker/admin/rules_commands.h"

#include <algorithm>

#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/admin/vault_change.h"
#include "desktop/broker/rules/rule_settings_edit.h"
#include "desktop/broker/rules/rule_settings_json.h"
#include "desktop/shared/store/rule_settings_file.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

AdminFailure refused(const RuleError& error) {
  std::string subject = "rule " + error.rule + ": ";
  switch (error.fault) {
    case RuleFault::bad_pattern:
      return bad_input(subject + "the pattern is refused: " + error.detail);
    case RuleFault::builtin_not_removable:
      return bad_input(subject + "a built-in rule cannot be removed; disable it instead");
    default:
      return bad_input(subject + error.detail);
  }
}

// The rules where they are kept: in the vault once there is one (opened with the master
// password, so that only the person can change them or see them), else in settings.json.
struct KeptRules {
  RuleSettings rules;
  std::optional<VaultChange> vault;
};

std::expected<KeptRules, AdminFailure> kept_rules(const AdminContext& context,
                                                  const PasswordSource& source) {
  auto vault = VaultChange::begin(context, source);
  if (!vault) return std::unexpected(vault.error());
  KeptRules kept;
  if (*vault) {
    kept.vault = std::move(*vault);
    const std::string& stored = kept.vault->contents().rules_json;
    if (!stored.empty()) {
      auto decoded = decode_rule_settings(stored);
      if (!decoded)
        return std::unexpected(
            bad_input("the vault's rule settings do not read: " + decoded.error().detail));
      kept.rules = std::move(*decoded);
      return kept;
    }
    // A vault made before it held the rules takes them from settings.json, as init does, so
    // that the first change does not drop the person's own rules.
  }
  auto settings = load_settings(context.data_dir);
  if (!settings) return std::unexpected(bad_input(settings.error()));
  kept.rules = std::move(settings->rules);
  return kept;
}

// Loads the rules, applies `edit` and saves them, all under the lock, then says `done`. With a
// vault, settings.json gets a copy of its rules: the service applies that copy while the vault
// is locked, and only ever to make the vault's rules stricter.
template <typename Edit>
Outcome edit_rules(const AdminContext& context, const PasswordSource& source, Edit edit,
                   const std::string& done) {
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  auto kept = kept_rules(context, source);
  if (!kept) return std::unexpected(kept.error());
  if (auto edited = edit(kept->rules); !edited) return std::unexpected(refused(edited.error()));
  if (kept->vault) {
    kept->vault->contents().rules_json = encode_rule_settings(kept->rules);
    if (auto saved = kept->vault->commit(); !saved) return saved;
  }
  if (auto saved = save_rule_settings(context.data_dir, kept->rules); !saved)
    return std::unexpected(bad_input(saved.error()));
  print(done + "\n");
  return {};
}

std::string on_match_text(OnMatch on_match) {
  return on_match == OnMatch::block
             ? "a match is blocked outright"
             : "a match is put to a person at an attached pendrel-desktop console, and blocked "
               "when none is attached";
}

void print_rules_json(const RuleSettings& settings) {
  JsonWriter json;
  json.begin_object()
      .key("onMatch")
      .string(settings.on_match == OnMatch::block ? "block" : "ask")
      .key("approvalTimeoutSeconds")
      .integer(settings.approval_timeout.count())
      .key("rules")
      .begin_array();
  for (const RuleListing& rule : list_rules(settings)) {
    json.begin_object()
        .key("name")
        .string(rule.name)
        .key("kind")
        .string(rule.kind == RuleKind::builtin ? "builtin" : "user")
        .key("enabled")
        .boolean(rule.state == RuleState::enabled)
        .key("pattern")
        .string(rule.pattern);
    if (rule.kind == RuleKind::builtin) {
      json.key("descriptionZh")
          .string(rule.description_zh)
          .key("descriptionEn")
          .string(rule.description_en);
    }
    json.end_object();
  }
  json.end_array().end_object();
  print(json.take_line());
}

void print_rules_text(const RuleSettings& settings) {
  auto rules = list_rules(settings);
  std::size_t width = 4;
  for (const RuleListing& rule : rules)
    width = std::max(width, rule.name.size());
  auto padded = [](std::string text, std::size_t to) {
    text.resize(std::max(text.size(), to), ' ');
    return text;
  };
  std::string out = padded("NAME", width) + "  KIND      STATE  WHAT IT MATCHES\n";
  for (const RuleListing& rule : rules) {
    out += padded(rule.name, width) + "  " +
           padded(rule.kind == RuleKind::builtin ? "built-in" : "user", 8) + "  " +
           padded(rule.state == RuleState::enabled ? "on" : "off", 5) + "  " +
           (rule.kind == RuleKind::builtin ? rule.description_en : rule.pattern) + "\n";
  }
  out += on_match_text(settings.on_match) + " (rules block on|off).\n";
  print(out);
}

Outcome list(const AdminContext& context, Arguments& args) {
  bool json = false;
  PasswordSource source;
  if (auto taken = take_json_and_password_fd(args, json, source); !taken)
    return std::unexpected(taken.error());
  if (auto end = expect_end(args); !end) return end;
  auto kept = kept_rules(context, source);
  if (!kept) return std::unexpected(kept.error());
  json ? print_rules_json(kept->rules) : print_rules_text(kept->rules);
  return {};
}

// The operands of a subcommand, exactly `count` of them, then `--password-fd N` if given.
std::expected<std::vector<std::string>, AdminFailure> operands(std::string_view command,
                                                               std::size_t count,
                                                               std::string_view usage,
                                                               Arguments& args,
                                                               PasswordSource& source) {
  std::vector<std::string> taken;
  while (taken.size() < count && !args.done())
    taken.emplace_back(args.take());
  if (taken.size() < count)
    return std::unexpected(
        bad_input("rules " + std::string(command) + " takes " + std::string(usage)));
  if (auto fd = take_password_fd(args, source); !fd) return std::unexpected(fd.error());
  if (auto end = expect_end(args); !end) return std::unexpected(end.error());
  return taken;
}

Outcome add(const AdminContext& context, Arguments& args) {
  PasswordSource source;
  auto given = operands("add", 2, "NAME PATTERN", args, source);
  if (!given) return std::unexpected(given.error());
  const std::string& name = (*given)[0];
  const std::string& pattern = (*given)[1];
  return edit_rules(
      context, source, [&](RuleSettings& rules) { return add_user_rule(rules, name, pattern); },
      "added rule " + name);
}

Outcome remove(const AdminContext& context, Arguments& args) {
  PasswordSource source;
  auto given = operands("remove", 1, "NAME", args, source);
  if (!given) return std::unexpected(given.error());
  const std::string& name = given->front();
  return edit_rules(
      context, source, [&](RuleSettings& rules) { return remove_user_rule(rules, name); },
      "removed rule " + name);
}

Outcome set_state(const AdminContext& context, Arguments& args, RuleState state) {
  bool on = state == RuleState::enabled;
  PasswordSource source;
  auto given = operands(on ? "enable" : "disable", 1, "NAME", args, source);
  if (!given) return std::unexpected(given.error());
  const std::string& name = given->front();
  return edit_rules(
      context, source, [&](RuleSettings& rules) { return set_rule_state(rules, name, state); },
      "rule " + name + (on ? " is on" : " is off"));
}

Outcome switch_block(const AdminContext& context, Arguments& args) {
  PasswordSource source;
  auto given = operands("block", 1, "on or off", args, source);
  if (!given) return std::unexpected(given.error());
  auto on = parse_on_off("rules block", given->front());
  if (!on) return std::unexpected(on.error());
  OnMatch on_match = *on ? OnMatch::block : OnMatch::ask;
  return edit_rules(
      context, source,
      [&](RuleSettings& rules) -> std::expected<void, RuleError> {
        rules.on_match = on_match;
        return {};
      },
      on_match_text(on_match));
}

}  // namespace

Outcome run_rules_command(const AdminContext& context, Arguments& args) {
  constexpr std::string_view usage = "rules takes list, add, remove, enable, disable or block";
  if (args.done()) return std::unexpected(bad_input(std::string(usage)));
  std::string_view verb = args.take();
  if (verb == "list") return list(context, args);
  if (verb == "add") return add(context, args);
  if (verb == "remove") return remove(context, args);
  if (verb == "enable") return set_state(context, args, RuleState::enabled);
  if (verb == "disable") return set_state(context, args, RuleState::disabled);
  if (verb == "block") return switch_block(context, args);
  return std::unexpected(bad_input(std::string(usage) + ", not " + std::string(verb)));
}

}  // namespace pendrel::desktop
